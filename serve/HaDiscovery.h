// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Home Assistant's MQTT discovery for one receiver: retained configs that make it a device
// with a binary sensor per button and diagonal, a sensor per channel and one for the link,
// all read from PREFIX/state, so that nobody writes YAML for them.

#include <string>
#include <vector>

namespace zub3::cli {

struct MqttMessage {
    std::string topic;
    std::string payload;
};

// The configs of the device whose topics start with prefix, under Home Assistant's
// discovery prefix (homeassistant unless it was changed there).
std::vector<MqttMessage> DiscoveryConfigs(const std::string& discovery, const std::string& prefix);

// Where serve notes the discovery prefix it published under (retained), so that a later run
// without discovery, or with another prefix, knows which configs to remove.
std::string DiscoveryNoteTopic(const std::string& prefix);

}  // namespace zub3::cli
