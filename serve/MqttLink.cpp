// SPDX-License-Identifier: GPL-3.0-or-later
#include "serve/MqttLink.h"

#include "serve/Log.h"
#include "core/Records.h"

#include <mosquitto.h>

#include <netdb.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

namespace zub3::cli {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kKeepAliveS = 10;
constexpr int kQos = 1;  // for the flag and the configs; records go at QoS 0
// Records the library may hold unwritten: a broker that stalls costs at most this many.
constexpr int kMaxUnsent = 256;
constexpr auto kCloseLimit = std::chrono::seconds(2);
// How long the thread waits for the socket at a time, so that it sees an end soon.
constexpr int kLoopMs = 100;
constexpr int kFirstRetryS = 1;
constexpr int kLastRetryS = 10;
constexpr const char* kOnline = "online";
constexpr const char* kOffline = "offline";

std::once_flag g_libraryReady;

}  // namespace

struct MqttLink::Connection {
    explicit Connection(MqttSettings settings) : s(std::move(settings)) {}
    ~Connection()
    {
        if (m)
            mosquitto_destroy(m);
    }

    void run();
    bool stopping()
    {
        std::lock_guard lock(mutex);
        return stopping_;
    }
    std::string reason(int rc, int error) const;
    void publish(const std::string& topic, const std::string& payload, int qos)
    {
        mosquitto_publish(m, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                          payload.data(), qos, true);
    }
    // Under mutex: the flag and the latest record, as they are now.
    void tellState()
    {
        publish(s.prefix + "/online", online ? kOnline : kOffline, kQos);
        if (!latest.empty())
            publish(s.prefix + "/state", latest, 0);
    }

    static void onConnect(mosquitto*, void* self, int rc);
    static void onDisconnect(mosquitto*, void* self, int rc);
    static void onPublish(mosquitto*, void* self, int mid);
    static void onSubscribe(mosquitto*, void* self, int, int, const int*);
    static void onMessage(mosquitto*, void* self, const mosquitto_message* message);
    static void onLog(mosquitto*, void* self, int level, const char* text);

    const MqttSettings s;
    int port = 0;
    std::string where;  // host:port, as the log names the broker
    mosquitto* m = nullptr;
    std::thread thread;

    std::mutex mutex;
    std::condition_variable changed;
    bool stopping_ = false;
    bool ended = false;
    bool disconnected = true;
    bool online = false;
    std::string latest;  // told again on each connect: a restarted broker has lost it

    std::atomic<bool> connected{false};
    std::atomic<int> inFlight{0};
    std::atomic<long long> sent{0}, unsent{0}, unsentWhileAway{0};

    // The thread's own.
    std::string libraryError;  // the library's last error line (TLS says why there)
    std::string refusal;       // the broker's answer to the last connect, when it refused
    std::string reported;      // the failure said last; the same one is not said again
    bool everConnected = false;
    Clock::time_point awaySince;
};

MqttLink::MqttLink(MqttSettings settings) : c_(std::make_shared<Connection>(std::move(settings))) {}

MqttLink::~MqttLink()
{
    if (!c_->thread.joinable())
        return;
    std::unique_lock lock(c_->mutex);
    c_->stopping_ = true;
    if (c_->connected) {
        c_->online = false;
        c_->publish(c_->s.prefix + "/online", kOffline, kQos);
        mosquitto_disconnect(c_->m);
        c_->changed.wait_for(lock, kCloseLimit, [this] { return c_->disconnected; });
    }
    c_->changed.notify_all();
    // A connect under way (a host that does not answer, a name being resolved) is not waited
    // for beyond the limit: the thread holds its own share of the connection and ends later.
    const bool ended = c_->changed.wait_for(lock, kCloseLimit, [this] { return c_->ended; });
    lock.unlock();
    if (ended)
        c_->thread.join();
    else
        c_->thread.detach();
}

std::optional<std::string> MqttLink::Start()
{
    std::call_once(g_libraryReady, [] { mosquitto_lib_init(); });
    Connection& c = *c_;
    c.port = c.s.port ? c.s.port : c.s.tls ? 8883 : 1883;
    c.where = (c.s.host.find(':') != std::string::npos ? "[" + c.s.host + "]" : c.s.host) + ":" +
              std::to_string(c.port);
    c.m = mosquitto_new(nullptr, true, &c);
    if (!c.m)
        return std::string("cannot start the MQTT client");
    mosquitto_int_option(c.m, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    // Records are published from the poll loop's thread, the connection runs on its own.
    mosquitto_threaded_set(c.m, true);
    mosquitto_connect_callback_set(c.m, Connection::onConnect);
    mosquitto_disconnect_callback_set(c.m, Connection::onDisconnect);
    mosquitto_publish_callback_set(c.m, Connection::onPublish);
    mosquitto_subscribe_callback_set(c.m, Connection::onSubscribe);
    mosquitto_message_callback_set(c.m, Connection::onMessage);
    mosquitto_log_callback_set(c.m, Connection::onLog);
    const std::string topic = c.s.prefix + "/online";
    if (mosquitto_will_set(c.m, topic.c_str(), static_cast<int>(std::strlen(kOffline)), kOffline,
                           kQos, true) != MOSQ_ERR_SUCCESS)
        return "--mqtt-topic: '" + c.s.prefix + "' is not a topic a broker takes";
    if (c.s.user && mosquitto_username_pw_set(c.m, c.s.user->c_str(),
                                              c.s.password ? c.s.password->c_str() : nullptr) !=
                        MOSQ_ERR_SUCCESS)
        return std::string("--mqtt-user: not taken by the MQTT client");
    if (c.s.cafile) {
        const int rc = mosquitto_tls_set(c.m, c.s.cafile->c_str(), nullptr, nullptr, nullptr, nullptr);
        if (rc != MOSQ_ERR_SUCCESS)
            return "--mqtt-cafile: " + *c.s.cafile + ": " + mosquitto_strerror(rc);
    } else if (c.s.tls) {
        mosquitto_int_option(c.m, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
    }
    c.thread = std::thread([c = c_] { c->run(); });
    return std::nullopt;
}

void MqttLink::Publish(const std::string& json)
{
    Connection& c = *c_;
    std::lock_guard lock(c.mutex);
    c.latest = json;
    if (!c.connected || c.inFlight >= kMaxUnsent) {
        ++c.unsent;
        if (!c.connected)
            ++c.unsentWhileAway;
        return;
    }
    ++c.inFlight;
    if (mosquitto_publish(c.m, nullptr, (c.s.prefix + "/state").c_str(),
                          static_cast<int>(json.size()), json.data(), 0, true) == MOSQ_ERR_SUCCESS) {
        ++c.sent;
    } else {
        --c.inFlight;
        ++c.unsent;
    }
}

void MqttLink::SetOnline(bool online)
{
    Connection& c = *c_;
    std::lock_guard lock(c.mutex);
    if (c.online == online)
        return;
    c.online = online;
    if (c.connected)
        c.publish(c.s.prefix + "/online", online ? kOnline : kOffline, kQos);
}

long long MqttLink::Sent() const
{
    return c_->sent;
}

long long MqttLink::Unsent() const
{
    return c_->unsent;
}

// Connects, runs the connection until it is lost, says why, waits and connects again.
void MqttLink::Connection::run()
{
    int delayS = kFirstRetryS;
    while (!stopping()) {
        libraryError.clear();
        refusal.clear();
        errno = 0;
        int rc = mosquitto_connect(m, s.host.c_str(), port, kKeepAliveS);
        int error = errno;
        bool wasUp = false;
        while (rc == MOSQ_ERR_SUCCESS && !stopping()) {
            rc = mosquitto_loop(m, kLoopMs, 1);
            error = errno;
            wasUp = wasUp || connected;
        }
        if (stopping()) {
            // The owner's disconnect is written by the loop; a connection still opening
            // is simply closed.
            for (auto end = Clock::now() + kCloseLimit; connected && Clock::now() < end;)
                if (mosquitto_loop(m, kLoopMs, 1) != MOSQ_ERR_SUCCESS)
                    break;
            break;
        }
        connected = false;
        const std::string why = reason(rc, error);
        if (wasUp) {
            awaySince = Clock::now();
            delayS = kFirstRetryS;
            Log(LogLevel::Warning, "MQTT: lost the broker at " + where + ": " + why);
        } else if (why != reported) {
            Log(LogLevel::Warning, "MQTT: cannot connect to " + where + ": " + why);
        }
        reported = why;
        Log(LogLevel::Info, "MQTT: trying " + where + " again in " + std::to_string(delayS) + " s");
        std::unique_lock lock(mutex);
        changed.wait_for(lock, std::chrono::seconds(delayS), [this] { return stopping_; });
        delayS = std::min(delayS * 2, kLastRetryS);
    }
    std::lock_guard lock(mutex);
    ended = true;
    changed.notify_all();
}

std::string MqttLink::Connection::reason(int rc, int error) const
{
    if (!refusal.empty())
        return refusal;
    switch (rc) {
    case MOSQ_ERR_ERRNO:
        return error ? std::strerror(error) : "the connection failed";
    case MOSQ_ERR_EAI:
        return "cannot find the host " + s.host + " (" + gai_strerror(error) + ")";
    case MOSQ_ERR_TLS:
    case MOSQ_ERR_TLS_HANDSHAKE:
        return "TLS: " + (libraryError.empty() ? std::string("the handshake failed") : libraryError);
    case MOSQ_ERR_CONN_LOST:
    case MOSQ_ERR_NO_CONN:
        return libraryError.empty() ? std::string("the connection was closed") : libraryError;
    case MOSQ_ERR_KEEPALIVE:
        return "the broker stopped answering";
    default:
        return mosquitto_strerror(rc);
    }
}

void MqttLink::Connection::onConnect(mosquitto* m, void* self, int rc)
{
    auto& c = *static_cast<Connection*>(self);
    if (rc != 0) {
        c.refusal = std::string("refused: ") + mosquitto_connack_string(rc);
        return;
    }
    {
        std::lock_guard lock(c.mutex);
        c.disconnected = false;
        c.inFlight = 0;
        c.connected = true;
    }
    // Asked always: a run without discovery removes what an earlier run published.
    mosquitto_subscribe(m, nullptr, DiscoveryNoteTopic(c.s.prefix).c_str(), kQos);
    if (c.s.discovery)
        for (const MqttMessage& config : DiscoveryConfigs(*c.s.discovery, c.s.prefix))
            c.publish(config.topic, config.payload, kQos);
    {
        std::lock_guard lock(c.mutex);
        c.tellState();
    }
    const long long missed = c.unsentWhileAway.exchange(0);
    if (c.everConnected || !c.reported.empty()) {
        const double away = std::chrono::duration<double>(Clock::now() - c.awaySince).count();
        Log(LogLevel::Warning, "MQTT: connected to " + c.where + " again" +
                                   (c.everConnected ? " after " + Decimal(away, 1) + " s" : "") +
                                   "; " + std::to_string(missed) +
                                   " records not sent while it was away");
    } else {
        Log(LogLevel::Info, "MQTT: connected to " + c.where);
    }
    c.everConnected = true;
    c.reported.clear();
}

void MqttLink::Connection::onDisconnect(mosquitto*, void* self, int)
{
    auto& c = *static_cast<Connection*>(self);
    std::lock_guard lock(c.mutex);
    c.connected = false;
    c.disconnected = true;
    c.changed.notify_all();
}

void MqttLink::Connection::onPublish(mosquitto*, void* self, int)
{
    auto& c = *static_cast<Connection*>(self);
    if (c.inFlight > 0)
        --c.inFlight;
}

// The note of an earlier run is read before this run's own is written over it.
void MqttLink::Connection::onSubscribe(mosquitto*, void* self, int, int, const int*)
{
    auto& c = *static_cast<Connection*>(self);
    if (c.s.discovery)
        c.publish(DiscoveryNoteTopic(c.s.prefix), *c.s.discovery, kQos);
}

// A note naming a discovery prefix this run does not publish under: the configs there are
// an earlier run's, and their entities would stay on the dashboard for ever.
void MqttLink::Connection::onMessage(mosquitto*, void* self, const mosquitto_message* message)
{
    auto& c = *static_cast<Connection*>(self);
    if (message->payloadlen <= 0 || DiscoveryNoteTopic(c.s.prefix) != message->topic)
        return;
    const std::string noted(static_cast<const char*>(message->payload),
                            static_cast<std::size_t>(message->payloadlen));
    if (c.s.discovery == noted)
        return;
    for (const MqttMessage& config : DiscoveryConfigs(noted, c.s.prefix))
        c.publish(config.topic, "", kQos);
    if (!c.s.discovery)
        c.publish(DiscoveryNoteTopic(c.s.prefix), "", kQos);
    Log(LogLevel::Warning, "MQTT: removed the Home Assistant discovery configs under " + noted +
                               "/ that an earlier run published");
}

void MqttLink::Connection::onLog(mosquitto*, void* self, int level, const char* text)
{
    if (level & MOSQ_LOG_ERR)
        static_cast<Connection*>(self)->libraryError = text;
    Log(LogLevel::Debug, std::string("MQTT library: ") + text);
}

}  // namespace zub3::cli
