// SPDX-License-Identifier: GPL-3.0-or-later
#include "serve/Serve.h"

#include "session/Changes.h"
#include "session/Json.h"
#include "serve/Log.h"
#include "serve/MqttLink.h"
#include "session/Output.h"
#include "session/PollLoop.h"
#include "session/PollOptions.h"
#include "session/Port.h"
#include "platform/TerminationSignals.h"
#include "serve/WebServer.h"
#include "core/ReceiverLink.h"
#include "core/Records.h"
#include "serial/CommX.h"

#include <QCoreApplication>
#include <QHostInfo>
#include <QThread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <deque>
#include <functional>
#include <future>
#include <mutex>

namespace zub3::cli {

// Work handed to the event loop of the thread this lives on. The tasks wait under a mutex
// of our own, so that what one thread puts in is ordered before the other takes it out
// where a thread sanitizer can see it (Qt's own ordering is inside an uninstrumented
// library); the wake-up is invoked by name, which Qt allocates and reads itself.
class TaskQueue : public QObject {
    Q_OBJECT
public:
    void Post(std::function<void()> task)
    {
        bool wake = false;
        {
            std::lock_guard lock(mutex_);
            wake = tasks_.empty();
            tasks_.push_back(std::move(task));
        }
        if (wake)
            QMetaObject::invokeMethod(this, "runTasks", Qt::QueuedConnection);
    }

    Q_INVOKABLE void runTasks()
    {
        std::deque<std::function<void()>> tasks;
        {
            std::lock_guard lock(mutex_);
            tasks.swap(tasks_);
        }
        for (auto& task : tasks)
            task();
    }

private:
    std::mutex mutex_;
    std::deque<std::function<void()>> tasks_;
};

namespace {

constexpr quint16 kDefaultListenPort = 8734;
constexpr long long kMaxSecretBytes = 4096;
constexpr double kMaxMqttIntervalMs = 60'000;
// Records waiting for the web server's thread (about a second at the shortest interval):
// one that falls further behind loses the oldest, so that its clients see the present.
constexpr std::size_t kMaxWaitingRecords = 256;

// A secret from a file only its owner can read or write: a token others can read is no
// secret, and one others can write lets them choose it.
std::string readSecret(std::string_view option, const std::string& path)
{
    const auto fail = [&](const std::string& why) {
        return UsageError("--" + std::string(option) + ": " + path + ": " + why);
    };
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        throw fail(std::strerror(errno));
    struct stat st{};
    std::string text;
    const bool ok = ::fstat(fd, &st) == 0;
    if (ok && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 077) == 0 &&
        st.st_size <= kMaxSecretBytes) {
        text.resize(static_cast<std::size_t>(st.st_size));
        const ssize_t n = ::read(fd, text.data(), text.size());
        text.resize(n < 0 ? 0 : static_cast<std::size_t>(n));
    }
    ::close(fd);
    if (!ok || !S_ISREG(st.st_mode))
        throw fail("not a regular file");
    if (st.st_uid != ::geteuid() || (st.st_mode & 077) != 0)
        throw fail("others may read or change it; make it private (chmod 600)");
    if (st.st_size > kMaxSecretBytes)
        throw fail("over 4 KiB");
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.pop_back();
    if (text.empty() || text.find_first_of("\r\n") != std::string::npos)
        throw fail("must hold one line that is not empty");
    return text;
}

// ADDR:PORT, [V6]:PORT, or ADDR alone for the default port.
std::pair<QHostAddress, quint16> parseListen(const std::string& text)
{
    std::string host = text;
    long long port = kDefaultListenPort;
    const auto bracket = text.find(']');
    const auto colon = text.rfind(':');
    if (text.starts_with('[') && bracket != std::string::npos) {
        host = text.substr(1, bracket - 1);
        if (bracket + 1 < text.size()) {
            if (text[bracket + 1] != ':')
                throw UsageError("--listen: '" + text + "' is not ADDR:PORT");
            port = cmdline::ParseInteger("listen", text.substr(bracket + 2), 1, 65535);
        }
    } else if (colon != std::string::npos && text.find(':') == colon) {
        host = text.substr(0, colon);
        port = cmdline::ParseInteger("listen", text.substr(colon + 1), 1, 65535);
    }
    QHostAddress address;
    if (host == "localhost")
        address = QHostAddress::LocalHost;
    else if (!address.setAddress(QString::fromStdString(host)))
        throw UsageError("--listen: '" + host + "' is not an IP address (or localhost)");
    return {address, static_cast<quint16>(port)};
}

struct Broker {
    std::string host;
    int port = 0;  // 0: the scheme's own
    std::optional<bool> tls;  // none: no scheme given
};

// mqtt://ADDRESS or mqtts://ADDRESS (TLS), or ADDRESS alone, where ADDRESS is HOST,
// HOST:PORT, [V6]:PORT or a bare IPv6 address.
Broker parseBroker(const std::string& text)
{
    const auto portOf = [](const std::string& p) {
        return static_cast<int>(cmdline::ParseInteger("mqtt", p, 1, 65535));
    };
    const auto bad = [&text](const std::string& why) {
        return UsageError("--mqtt: '" + text + "' " + why +
                          "; give HOST[:PORT], mqtt://HOST[:PORT] or mqtts://HOST[:PORT]");
    };
    Broker b;
    std::string rest = text;
    if (const auto scheme = text.find("://"); scheme != std::string::npos) {
        const std::string name = text.substr(0, scheme);
        if (name != "mqtt" && name != "mqtts")
            throw bad("is not an MQTT address");
        b.tls = name == "mqtts";
        rest = text.substr(scheme + 3);
        if (rest.ends_with('/'))
            rest.pop_back();
        if (rest.find_first_of("/?#@") != std::string::npos)
            throw bad("holds more than a host and a port");
    }
    if (rest.starts_with('[')) {
        const auto end = rest.find(']');
        if (end == std::string::npos || end == 1 ||
            (end + 1 < rest.size() && rest[end + 1] != ':'))
            throw bad("is not a broker's address");
        b.host = rest.substr(1, end - 1);
        b.port = end + 1 < rest.size() ? portOf(rest.substr(end + 2)) : 0;
        return b;
    }
    const auto colon = rest.find(':');
    if (rest.empty() || colon == 0)
        throw bad("names no host");
    if (colon == std::string::npos) {
        b.host = rest;
    } else if (rest.find(':', colon + 1) == std::string::npos) {
        b.host = rest.substr(0, colon);
        b.port = portOf(rest.substr(colon + 1));
    } else if (QHostAddress(QString::fromStdString(rest)).protocol() ==
               QAbstractSocket::IPv6Protocol) {
        b.host = rest;
    } else {
        throw bad("is not a broker's address");
    }
    return b;
}

// A topic prefix: levels a subscriber can name, no wildcards, no / at the end.
std::string topicPrefix(std::string_view option, const std::string& text)
{
    if (text.empty() || text.find_first_of("+#") != std::string::npos || text.ends_with('/'))
        throw UsageError("--" + std::string(option) + ": '" + text +
                         "' is not a topic prefix (no + or #, no / at the end)");
    return text;
}

// zub3/<host>/<port>, with what a topic level may not hold replaced.
std::string defaultTopic(const std::string& portName)
{
    std::string port = portName.starts_with("/dev/") ? portName.substr(5) : portName;
    std::string host = QHostInfo::localHostName().toStdString();
    for (std::string* level : {&port, &host})
        for (char& c : *level)
            if (c == '/' || c == '+' || c == '#')
                c = '_';
    return "zub3/" + (host.empty() ? std::string("localhost") : host) + "/" + port;
}

std::vector<std::string> allValues(const Arguments& args, std::string_view name, bool lower)
{
    std::vector<std::string> out;
    for (const auto& given : args.Options())
        if (given.name == name && given.value) {
            std::string v = *given.value;
            if (lower)
                for (char& c : v)
                    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            out.push_back(v);
        }
    return out;
}

std::string receiverFields(const ReceiverSettings& s)
{
    return "\"id\": " + std::to_string(s.id) + ", \"speed\": " + std::to_string(s.speed.bitRate);
}

std::string receiverJson(const ReceiverSettings& s)
{
    return "{" + receiverFields(s) + "}";
}

std::string errorJson(const std::string& error, Link link, const std::string& more = {})
{
    return "{\"error\": " + JsonString(error) + ", \"link\": \"" + std::string(LinkName(link)) +
           "\"" + (more.empty() ? "" : ", " + more) + "}";
}

// The network side on a thread of its own: handing a record to hundreds of clients takes
// milliseconds of a loaded machine, and on the poll's thread it would hold up the next poll.
class WebThread {
public:
    explicit WebThread(const WebSettings& settings)
    {
        thread_.start();
        context_.moveToThread(&thread_);
        Run([&] {
            web_ = std::make_unique<WebServer>(settings);
            error_ = web_->Start();
        });
    }
    ~WebThread()
    {
        Run([this] {
            web_.reset();
            context_.moveToThread(QCoreApplication::instance()->thread());
        });
        thread_.quit();
        thread_.wait();
    }
    WebThread(const WebThread&) = delete;
    WebThread& operator=(const WebThread&) = delete;

    // Runs f on the server's thread and waits for it.
    template <typename F> void Run(F f)
    {
        std::promise<void> done;
        std::future<void> finished = done.get_future();
        context_.Post([&f, &done] {
            f();
            done.set_value();
        });
        finished.wait();
    }
    // Runs f on the server's thread after what is already queued there.
    template <typename F> void Post(F f) { context_.Post(std::move(f)); }

    // Hands a record to the clients: it waits in a bounded queue, and the server's thread is
    // woken once for all that came while it was busy.
    void Publish(const Record& record, const Served& served, bool linkChanged)
    {
        bool wake = false;
        {
            std::lock_guard lock(mutex_);
            if (waiting_.size() >= kMaxWaitingRecords) {
                waiting_.pop_front();
                ++lost_;
            }
            wake = waiting_.empty();
            waiting_.push_back({record, served, linkChanged});
        }
        if (wake)
            Post([this] { publishWaiting(); });
    }

    // Why the address could not be taken, if it could not.
    const std::optional<std::string>& Error() const { return error_; }
    // The WebSocket clients taken so far.
    long long ClientsServed()
    {
        long long served = 0;
        Run([&] { served = web_->ClientsServed(); });
        return served;
    }
    // Only on the server's thread (in Run or Post), but for what does not change after Start.
    WebServer& Server() { return *web_; }

private:
    void publishWaiting()
    {
        std::deque<Waiting> records;
        long long lost = 0;
        {
            std::lock_guard lock(mutex_);
            records.swap(waiting_);
            std::swap(lost, lost_);
        }
        if (lost > 0) {
            Log(LogLevel::Warning, std::to_string(lost) +
                                       " records not sent to WebSocket clients: the server "
                                       "fell behind the polls");
            web_->Missed(lost);
        }
        for (const Waiting& w : records)
            web_->Publish(w.record, w.served, w.linkChanged);
        web_->Flush();
    }

    struct Waiting {
        Record record;
        Served served;
        bool linkChanged;
    };

    QThread thread_;
    TaskQueue context_;  // lives on thread_: what is posted to it runs there
    std::unique_ptr<WebServer> web_;
    std::optional<std::string> error_;
    std::mutex mutex_;
    std::deque<Waiting> waiting_;
    long long lost_ = 0;
};

struct ServeSettings {
    WebSettings web;
    std::optional<MqttSettings> mqtt;
    bool mqttChangesOnly = false;
    int mqttIntervalMs = 100;  // 0: each record as it comes
    PollSettings poll;
};

using Clock = std::chrono::steady_clock;

// How often the link is looked at, and how long without a record while the port is open
// makes it "no-reply": a poll that failed once is a glitch, a second in silence is not.
constexpr int kLinkCheckMs = 100;
constexpr int kNoReplyAfterMs = 1000;

long long msSince(Clock::time_point then, Clock::time_point now)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(now - then).count();
}

// Hands each record of the poll loop to the web clients and the broker, tells them when
// the link to the receiver changes, and runs a write asked for over HTTP between two polls.
// The poll loop runs on this (the main) thread, the web server on its own: what crosses is
// posted, or kept under a lock for the routes.
class ServeRun {
public:
    ServeRun(const PollTarget& target, const ServeSettings& s, WebThread& web, MqttLink* mqtt,
             platform::TerminationSignals& stopSignals)
        : given_(target.port), s_(s), web_(web), mqtt_(mqtt),
          loop_(target, s.poll,
                {[this](const Record& r, const PollExchange&) { accepted(r); },
                 [](long long) {},
                 [this](int status, const std::string& error) { run_.End(status, error); },
                 [this](TCommX& port, const PortChoice& choice) { betweenPolls(port, choice); }}),
          run_(loop_, stopSignals),
          brokerChanges_(s.mqttChangesOnly ? std::optional(kDefaultHeartbeatMs) : std::nullopt),
          noReplyAfterMs_(std::max(kNoReplyAfterMs, 3 * s.poll.intervalMs))
    {
        web_.Run([this] {
            WebServer& server = web_.Server();
            server.StateJson = [this] { return state(shown()); };
            server.ReceiverJson = [this] { return receiver(shown()); };
            server.OnWrite = [this](int id, const LineSpeed& speed, WebServer::WriteReply reply) {
                // Asked on the server's thread, answered there too.
                context_.Post([this, id, speed, reply] {
                    askWrite(id, speed, [&web = web_, reply](int status, const std::string& json) {
                        web.Post([reply, status, json] { reply(status, json); });
                    });
                });
            };
        });
        linkTimer_.callOnTimeout([this] { checkLink(); });
        if (mqtt_ && s_.mqttIntervalMs > 0)
            brokerTimer_.callOnTimeout([this] { toBroker(false); });
    }

    int Run(const std::string& listening)
    {
        if (!loop_.Start()) {
            Note(summary());
            return kExitDone;
        }
        show();
        const auto present = loop_.Receiver();
        Note("zub3ctl: serving " + (present ? loop_.PortName() + " (" + Describe(*present) + ")"
                                            : given_) +
             " on " + listening + "\n");
        lastRecordAt_ = Clock::now();
        linkTimer_.start(kLinkCheckMs);
        if (mqtt_ && s_.mqttIntervalMs > 0)
            brokerTimer_.start(s_.mqttIntervalMs);
        run_.Exec();
        linkTimer_.stop();
        brokerTimer_.stop();
        // The server outlives this run: nothing it calls may reach this object any more.
        web_.Run([this, last = shown()] {
            WebServer& server = web_.Server();
            server.OnWrite = nullptr;
            server.StateJson = [last] { return state(last); };
            server.ReceiverJson = [last] { return receiver(last); };
        });
        if (pendingWrite_)
            pendingWrite_->reply(503, "{\"error\": \"the server is ending\"}");
        if (mqtt_) {
            // Nobody polls the receiver any more: the broker's last word on it says so.
            link_ = Link::Away;
            toBroker(true);
            mqtt_->SetOnline(false);
            Note("zub3ctl: MQTT: " + std::to_string(mqtt_->Sent()) + " records published, " +
                 std::to_string(mqtt_->Unsent()) + " not sent while the broker was away or behind\n");
        }
        Note(summary());
        return run_.Result();
    }

private:
    struct PendingWrite {
        int id;
        LineSpeed speed;
        WebServer::WriteReply reply;
    };

    // What the routes answer from: the last record with its counts and link, and the
    // receiver's settings.
    struct Shown {
        std::optional<Record> last;
        Served served;
        std::optional<ReceiverSettings> receiver;
    };

    // As monitor's: a note, so that -q leaves it out with the others.
    std::string summary()
    {
        const long long clients = web_.ClientsServed();
        return loop_.Figures().Text(RecordCount(seq_, "published")) + std::to_string(clients) +
               (clients == 1 ? " WebSocket client" : " WebSocket clients") + " served\n";
    }

    void askWrite(int id, const LineSpeed& speed, WebServer::WriteReply reply)
    {
        if (pendingWrite_)
            return reply(409, "{\"error\": \"a write is under way\"}");
        if (!loop_.Attached())
            return reply(503, "{\"error\": \"the receiver's port is away\"}");
        pendingWrite_ = PendingWrite{id, speed, std::move(reply)};
    }

    // Kept for the server's thread whenever it changes here.
    void show()
    {
        Shown now{last_, served(Clock::now()), loop_.Receiver()};
        std::lock_guard lock(shownMutex_);
        shown_ = std::move(now);
    }
    Shown shown() const
    {
        std::lock_guard lock(shownMutex_);
        return shown_;
    }

    // Before the first record or silence: no reply yet, or no port.
    Link link() const { return link_.value_or(loop_.Attached() ? Link::NoReply : Link::Away); }

    Served served(Clock::time_point now) const
    {
        const Summary& f = loop_.Figures();
        return {seq_, f.Failures() + f.Rejections(), link(),
                last_ ? msSince(last_->polled, now) : 0, 0};
    }

    void accepted(const Record& r)
    {
        ++seq_;
        last_ = r;
        lastRecordAt_ = r.polled;
        const bool changed = setLink(Link::Ok, "");
        show();
        web_.Publish(r, served(Clock::now()), changed);
        if (mqtt_ && (changed || s_.mqttIntervalMs == 0))
            toBroker(changed);
    }

    // Only a record makes the link ok; silence and a lost port are seen here.
    void checkLink()
    {
        const auto now = Clock::now();
        if (!loop_.Attached()) {
            setLink(Link::Away, "the port is away");
            return;
        }
        // A port that is back gets its time to answer before it counts as silent.
        if (link_ == Link::Away)
            lastRecordAt_ = std::max(lastRecordAt_, now - std::chrono::milliseconds(kLinkCheckMs));
        if (const long long silent = msSince(lastRecordAt_, now); silent > noReplyAfterMs_)
            setLink(Link::NoReply, "no reply for " + Decimal(silent / 1000.0, 1) + " s");
    }

    // Tells everyone of a new link state, with the last record and its age; whether it
    // changed.
    bool setLink(Link link, const std::string& why)
    {
        if (link_ == link)
            return false;
        const bool first = !link_;
        link_ = link;
        if (!first || link != Link::Ok)
            Log(LogLevel::Warning, (loop_.PortName().empty() ? given_ : loop_.PortName()) +
                                       ": link " + std::string(LinkName(link)) +
                                       (why.empty() ? "" : ": " + why));
        if (mqtt_)
            mqtt_->SetOnline(link == Link::Ok);
        show();
        if (link != Link::Ok && last_) {
            web_.Publish(*last_, served(Clock::now()), true);
            if (mqtt_)
                toBroker(true);
        }
        return true;
    }

    // The latest record to the broker, when there is one it has not had; under --changes
    // only a change or a heartbeat. forced: at once, whatever it holds.
    void toBroker(bool forced)
    {
        if (!last_ || (!forced && seq_ == brokerSeq_) || !brokerChanges_.Pass(*last_, forced))
            return;
        brokerSeq_ = seq_;
        const Served now = served(Clock::now());
        mqtt_->Publish(RecordJson(*last_, false, &now));
    }

    static WebServer::Answer state(const Shown& s)
    {
        if (!s.last)
            return {503, errorJson("no record yet", s.served.link)};
        Served now = s.served;
        now.ageMs = msSince(s.last->polled, Clock::now());
        return {200, RecordJson(*s.last, false, &now)};
    }

    // The receiver's settings are known only while it answers; the last known ones come
    // with a 503 otherwise, so that a client that reads the status alone is not misled.
    static WebServer::Answer receiver(const Shown& s)
    {
        const Link now = s.served.link;
        if (!s.receiver)
            return {503, errorJson("the receiver is not found yet", now)};
        if (now == Link::Away)
            return {503, errorJson("the receiver's port is away", now, receiverFields(*s.receiver))};
        if (now == Link::NoReply)
            return {503, errorJson("the receiver does not answer", now, receiverFields(*s.receiver))};
        return {200, receiverJson(*s.receiver)};
    }

    // The steps of "zub3ctl write", answered over HTTP; polling goes on at what the
    // receiver took.
    void betweenPolls(TCommX& port, const PortChoice& choice)
    {
        if (!pendingWrite_)
            return;
        PendingWrite w = std::move(*pendingWrite_);
        pendingWrite_.reset();
        ReceiverSettings present = *loop_.Receiver();
        const ReceiverSettings wanted{static_cast<Byte>(w.id), w.speed};
        std::string error;
        try {
            const WriteResult result = WriteSettings(port, choice, present, wanted);
            if (result.now)
                present = *result.now;
            error = result.error;
        } catch (const Failure& e) {
            error = e.what();
        } catch (const ECommError& e) {
            // The next poll finds out whether the line is gone.
            error = choice.name + ": " + e.what();
        }
        loop_.Retarget(present);
        show();
        if (error.empty())
            w.reply(200, receiverJson(present));
        else
            w.reply(502, "{\"error\": " + JsonString(error) + "}");
    }

    const std::string given_;
    const ServeSettings& s_;
    WebThread& web_;
    TaskQueue context_;  // on this thread: what the server's thread asks of the loop runs here
    MqttLink* mqtt_;
    PollLoop loop_;
    PollRun run_;
    ChangeFilter brokerChanges_;
    const int noReplyAfterMs_;
    QTimer linkTimer_;
    QTimer brokerTimer_;
    std::optional<Record> last_;
    std::optional<Link> link_;  // none until the first record or the first silence
    Clock::time_point lastRecordAt_;
    std::optional<PendingWrite> pendingWrite_;
    long long seq_ = 0;
    long long brokerSeq_ = 0;  // the record the broker had last
    mutable std::mutex shownMutex_;
    Shown shown_;
};

ServeSettings serveSettings(const Arguments& args, const std::string& portName)
{
    ServeSettings s;
    s.poll = ReadPollSettings(args);
    // A server stays up for its readers: a port that goes away is waited for.
    s.poll.wait = true;
    if (const auto v = args.Get("listen"))
        std::tie(s.web.address, s.web.port) = parseListen(*v);
    s.web.allowHosts = allValues(args, "allow-host", true);
    s.web.allowOrigins = allValues(args, "allow-origin", true);
    if (const auto v = args.Get("max-clients"))
        s.web.maxClients = static_cast<int>(cmdline::ParseInteger("max-clients", *v, 1, 10000));
    if (const auto v = args.Get("max-clients-per-address"))
        s.web.maxClientsPerAddress =
            static_cast<int>(cmdline::ParseInteger("max-clients-per-address", *v, 1, 10000));
    if (const auto v = args.Get("max-pending-per-address"))
        s.web.maxPendingPerAddress =
            static_cast<int>(cmdline::ParseInteger("max-pending-per-address", *v, 1, 10000));
    if (const auto v = args.Get("token-file"))
        s.web.token = readSecret("token-file", *v);

    const bool mqttOption = args.Has("mqtt-topic") || args.Has("mqtt-user") ||
                            args.Has("mqtt-password-file") || args.Has("mqtt-cafile") ||
                            args.Has("mqtt-interval") || args.Has("ha-discovery");
    if (!args.Has("mqtt")) {
        if (mqttOption || args.Has("changes"))
            throw UsageError("the --mqtt-... options, --ha-discovery and --changes need --mqtt");
        return s;
    }
    MqttSettings m;
    const Broker broker = parseBroker(*args.Get("mqtt"));
    m.host = broker.host;
    m.port = broker.port;
    m.prefix = topicPrefix("mqtt-topic", args.Get("mqtt-topic").value_or(defaultTopic(portName)));
    m.user = args.Get("mqtt-user");
    if (const auto v = args.Get("mqtt-password-file"))
        m.password = readSecret("mqtt-password-file", *v);
    if (m.password && !m.user)
        throw UsageError("--mqtt-password-file needs --mqtt-user");
    if (const auto v = args.Get("mqtt-cafile")) {
        if (broker.tls == false)
            throw UsageError("--mqtt-cafile is for TLS: give the broker as mqtts://HOST[:PORT]");
        if (::access(v->c_str(), R_OK) != 0)
            throw UsageError("--mqtt-cafile: " + *v + ": " + std::strerror(errno));
        m.cafile = *v;
    }
    // A bare HOST with a certificate authority was TLS before mqtts:// was taken.
    m.tls = broker.tls.value_or(m.cafile.has_value());
    if (const auto v = args.Get("ha-discovery"))
        m.discovery = topicPrefix("ha-discovery", v->empty() ? "homeassistant" : *v);
    if (const auto v = args.Get("mqtt-interval"))
        s.mqttIntervalMs = static_cast<int>(std::lround(cmdline::ParseDuration(
            "mqtt-interval", *v, cmdline::BareUnit::Milliseconds, 0, kMaxMqttIntervalMs)));
    s.mqtt = m;
    s.mqttChangesOnly = args.Has("changes");
    return s;
}

}  // namespace

int Serve(const Arguments& args)
{
    SetQuiet(args.Has("quiet"));
    if (const auto level = args.Get("log-level"))
        SetLogLevel(ParseLogLevel(*level));
    RouteQtMessages();
    const PollTarget target = ReadPollTarget(args);
    // A port that is not there yet is named in the topic as it was given.
    std::string portName = target.port;
    try {
        portName = ChoosePort(target.port).name;
    } catch (const Failure&) {
    }
    const ServeSettings settings = serveSettings(args, portName);

    // The address is taken first: a server that cannot listen should not hold the port.
    WebThread web(settings.web);
    if (const auto error = web.Error())
        throw Failure(kExitCannotOpen, *error);
    if (!settings.web.token && !settings.web.address.isLoopback())
        Note("zub3ctl: listening on " + settings.web.address.toString().toStdString() +
             " without --token-file: writes are off\n");
    std::optional<MqttLink> mqtt;
    if (settings.mqtt) {
        mqtt.emplace(*settings.mqtt);
        if (const auto error = mqtt->Start())
            throw UsageError(*error);
    }

    // Before the port is opened: a signal while the receiver is sought still closes it and
    // removes its lock.
    platform::TerminationSignals stopSignals;
    const std::string address = settings.web.address.toString().toStdString();
    const std::string listening =
        "http://" +
        (settings.web.address.protocol() == QAbstractSocket::IPv6Protocol ? "[" + address + "]"
                                                                          : address) +
        ":" + std::to_string(web.Server().Port()) + "/";
    return ServeRun(target, settings, web, mqtt ? &*mqtt : nullptr, stopSignals).Run(listening);
}

}  // namespace zub3::cli

#include "Serve.moc"
