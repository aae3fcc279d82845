// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/MqttLink.h"

#include <mosquitto.h>

#include <chrono>

namespace zub3::cli {
namespace {

constexpr int kKeepAliveS = 10;
constexpr int kQos = 1;  // for the online flag; records go at QoS 0
// Records the library may hold unwritten: a broker that stalls costs at most this many.
constexpr int kMaxUnsent = 256;
constexpr auto kCloseLimit = std::chrono::seconds(2);
constexpr const char* kOnline = "true";
constexpr const char* kOffline = "false";

std::once_flag g_libraryReady;

}  // namespace

MqttLink::MqttLink(MqttSettings settings) : s_(std::move(settings)) {}

MqttLink::~MqttLink()
{
    if (!m_)
        return;
    if (looping_) {
        const std::string topic = s_.prefix + "/online";
        if (connected_) {
            mosquitto_publish(m_, nullptr, topic.c_str(), 5, kOffline, kQos, true);
            std::unique_lock lock(mutex_);
            mosquitto_disconnect(m_);
            ended_.wait_for(lock, kCloseLimit, [this] { return disconnected_; });
        } else {
            mosquitto_disconnect(m_);
        }
        // A broker that never answered leaves the thread in a connect: it is not waited for.
        mosquitto_loop_stop(m_, !disconnected_);
    }
    mosquitto_destroy(m_);
}

std::optional<std::string> MqttLink::Start()
{
    std::call_once(g_libraryReady, [] { mosquitto_lib_init(); });
    m_ = mosquitto_new(nullptr, true, this);
    if (!m_)
        return std::string("cannot start the MQTT client");
    mosquitto_int_option(m_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_connect_callback_set(m_, onConnect);
    mosquitto_disconnect_callback_set(m_, onDisconnect);
    mosquitto_publish_callback_set(m_, onPublish);
    mosquitto_reconnect_delay_set(m_, 1, 10, true);
    const std::string topic = s_.prefix + "/online";
    if (mosquitto_will_set(m_, topic.c_str(), 5, kOffline, kQos, true) != MOSQ_ERR_SUCCESS)
        return "--mqtt-topic: '" + s_.prefix + "' is not a topic a broker takes";
    if (s_.user && mosquitto_username_pw_set(m_, s_.user->c_str(),
                                             s_.password ? s_.password->c_str() : nullptr) !=
                       MOSQ_ERR_SUCCESS)
        return std::string("--mqtt-user: not taken by the MQTT client");
    if (s_.cafile) {
        const int rc = mosquitto_tls_set(m_, s_.cafile->c_str(), nullptr, nullptr, nullptr, nullptr);
        if (rc != MOSQ_ERR_SUCCESS)
            return "--mqtt-cafile: " + *s_.cafile + ": " + mosquitto_strerror(rc);
    }
    const int port = s_.port ? s_.port : s_.cafile ? 8883 : 1883;
    // Connecting goes on in the library's thread; a refusal now is retried there.
    const int rc = mosquitto_connect_async(m_, s_.host.c_str(), port, kKeepAliveS);
    if (rc == MOSQ_ERR_INVAL)
        return "--mqtt: '" + s_.host + "' is not a broker's address";
    if (mosquitto_loop_start(m_) != MOSQ_ERR_SUCCESS)
        return std::string("cannot start the MQTT client's thread");
    looping_ = true;
    if (rc != MOSQ_ERR_SUCCESS)
        mosquitto_reconnect_async(m_);
    return std::nullopt;
}

void MqttLink::Publish(const std::string& json)
{
    if (!connected_ || unsent_ >= kMaxUnsent)
        return;
    const std::string topic = s_.prefix + "/state";
    ++unsent_;
    if (mosquitto_publish(m_, nullptr, topic.c_str(), static_cast<int>(json.size()), json.data(),
                          0, false) != MOSQ_ERR_SUCCESS)
        --unsent_;
}

void MqttLink::onConnect(mosquitto* m, void* self, int rc)
{
    auto* link = static_cast<MqttLink*>(self);
    if (rc != 0)
        return;
    link->unsent_ = 0;
    {
        std::lock_guard lock(link->mutex_);
        link->disconnected_ = false;
    }
    const std::string topic = link->s_.prefix + "/online";
    mosquitto_publish(m, nullptr, topic.c_str(), 4, kOnline, kQos, true);
    link->connected_ = true;
}

void MqttLink::onDisconnect(mosquitto*, void* self, int)
{
    auto* link = static_cast<MqttLink*>(self);
    link->connected_ = false;
    std::lock_guard lock(link->mutex_);
    link->disconnected_ = true;
    link->ended_.notify_all();
}

void MqttLink::onPublish(mosquitto*, void* self, int)
{
    auto* link = static_cast<MqttLink*>(self);
    if (link->unsent_ > 0)
        --link->unsent_;
}

}  // namespace zub3::cli
