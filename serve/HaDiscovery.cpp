// SPDX-License-Identifier: GPL-3.0-or-later
#include "serve/HaDiscovery.h"

#include "Version.h"
#include "session/Json.h"
#include "core/Records.h"

namespace zub3::cli {
namespace {

// A topic level and a unique ID may hold letters, digits, _ and - only.
std::string nodeId(const std::string& prefix)
{
    std::string out = prefix;
    for (char& c : out)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-')
            c = '_';
    return out;
}

std::string objectId(std::string name)
{
    for (char& c : name)
        if (c == ' ')
            c = '_';
    return name;
}

}  // namespace

std::string DiscoveryNoteTopic(const std::string& prefix)
{
    return prefix + "/discovery";
}

std::vector<MqttMessage> DiscoveryConfigs(const std::string& discovery, const std::string& prefix)
{
    const std::string node = nodeId(prefix);
    const std::string device = ", \"device\": {\"identifiers\": [" + JsonString(node) +
                               "], \"name\": " + JsonString("ZUB-3 " + prefix) +
                               ", \"model\": \"ZUB-3\", \"sw_version\": " +
                               JsonString(kVersion) + "}";
    const std::string state = ", \"state_topic\": " + JsonString(prefix + "/state");
    const std::string available = ", \"availability_topic\": " +
                                  JsonString(prefix + "/online") +
                                  ", \"payload_available\": \"online\", "
                                  "\"payload_not_available\": \"offline\"";
    std::vector<MqttMessage> out;
    const auto add = [&](const char* component, const std::string& name, const std::string& rest) {
        const std::string id = node + "_" + objectId(name);
        out.push_back({discovery + "/" + component + "/" + node + "/" + objectId(name) + "/config",
                       "{\"name\": " + JsonString(name) + ", \"unique_id\": " + JsonString(id) +
                           state + rest + device + "}"});
    };
    // A button is on while it is among the held ones; a diagonal while both of its are.
    const auto held = [](const std::string& names) {
        std::string test;
        for (std::size_t at = 0; at <= names.size();) {
            const std::size_t space = std::min(names.find(' ', at), names.size());
            test += (test.empty() ? "" : " and ") + ("'" + names.substr(at, space - at) + "'") +
                    " in value_json.held";
            at = space + 1;
        }
        return ", \"value_template\": \"{{ 'ON' if " + test + " else 'OFF' }}\"";
    };
    for (const ButtonName& b : kButtons)
        add("binary_sensor", std::string(b.name), held(std::string(b.name)) + available);
    for (const std::uint16_t diagonal : kDiagonals) {
        const std::string names = HeldNames(diagonal);
        add("binary_sensor", names, held(names) + available);
    }
    for (int i = 1; i <= 4; ++i) {
        const std::string field = "pa" + std::to_string(i);
        add("sensor", "PA" + std::to_string(i),
            ", \"value_template\": \"{{ value_json." + field +
                " }}\", \"state_class\": \"measurement\"" + available);
    }
    // The link says why the others are unavailable, so it stays available itself.
    add("sensor", "link",
        ", \"value_template\": \"{{ value_json.link }}\", \"device_class\": \"enum\", "
        "\"options\": [\"ok\", \"no-reply\", \"away\"], \"entity_category\": \"diagnostic\"");
    return out;
}

}  // namespace zub3::cli
