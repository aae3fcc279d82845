// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Records to an MQTT broker for a fleet of receivers: PREFIX/state carries each record,
// PREFIX/online a retained true, false as the last will and on a clean end. libmosquitto
// runs the connection on its own thread and reconnects by itself; publishing never waits.

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>

struct mosquitto;

namespace zub3::cli {

struct MqttSettings {
    std::string host;
    int port = 0;  // 0: 1883, or 8883 with TLS
    std::string prefix;
    std::optional<std::string> user;
    std::optional<std::string> password;
    std::optional<std::string> cafile;  // TLS with this certificate authority
};

class MqttLink {
public:
    explicit MqttLink(MqttSettings settings);
    ~MqttLink();  // online false, then the connection closed within a bounded time
    MqttLink(const MqttLink&) = delete;
    MqttLink& operator=(const MqttLink&) = delete;

    // Starts connecting; the reason when the settings cannot be used at all. A broker that
    // is not there yet is no failure: it is tried again until it is.
    std::optional<std::string> Start();

    // One record; dropped while the broker is away or too far behind.
    void Publish(const std::string& json);

private:
    static void onConnect(mosquitto*, void* self, int rc);
    static void onDisconnect(mosquitto*, void* self, int rc);
    static void onPublish(mosquitto*, void* self, int mid);

    MqttSettings s_;
    mosquitto* m_ = nullptr;
    bool looping_ = false;
    std::atomic<bool> connected_{false};
    std::atomic<int> unsent_{0};  // records handed to the library and not yet written
    std::mutex mutex_;
    std::condition_variable ended_;
    bool disconnected_ = false;
};

}  // namespace zub3::cli
