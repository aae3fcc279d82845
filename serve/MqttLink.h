// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Records to an MQTT broker for dashboards and fleets: PREFIX/state carries the latest
// record (retained), PREFIX/online a retained "online" while the receiver answers and
// "offline" otherwise, after a clean end and, as the last will, when the server is lost.
// The connection runs on a thread of its own that says each failure with its reason and
// connects again by itself; publishing never waits for it.

#include "serve/HaDiscovery.h"

#include <memory>
#include <optional>
#include <string>

namespace zub3::cli {

struct MqttSettings {
    std::string host;
    int port = 0;  // 0: 1883, or 8883 with TLS
    std::string prefix;
    std::optional<std::string> user;
    std::optional<std::string> password;
    bool tls = false;
    std::optional<std::string> cafile;     // with TLS: this authority, else the system's
    std::optional<std::string> discovery;  // Home Assistant's discovery prefix, when on
};

class MqttLink {
public:
    explicit MqttLink(MqttSettings settings);
    ~MqttLink();  // offline, then the connection closed within a bounded time
    MqttLink(const MqttLink&) = delete;
    MqttLink& operator=(const MqttLink&) = delete;

    // Starts connecting; the reason when the settings cannot be used at all. A broker that
    // is not there yet is no failure: it is tried again until it is.
    std::optional<std::string> Start();

    // The latest record for PREFIX/state; counted as not sent while the broker is away or
    // too far behind.
    void Publish(const std::string& json);
    // PREFIX/online: whether the receiver answers. Kept, and told again on each connect.
    void SetOnline(bool online);

    long long Sent() const;
    long long Unsent() const;

    struct Connection;

private:
    std::shared_ptr<Connection> c_;
};

}  // namespace zub3::cli
