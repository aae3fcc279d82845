// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/Serve.h"

#include "cli/MqttLink.h"
#include "cli/Commands.h"
#include "cli/Json.h"
#include "cli/Log.h"
#include "cli/Output.h"
#include "cli/PollLoop.h"
#include "cli/Port.h"
#include "platform/TerminationSignals.h"
#include "cli/WebServer.h"
#include "core/ReceiverLink.h"
#include "core/Records.h"
#include "serial/CommX.h"

#include <QCoreApplication>
#include <QHostInfo>
#include <QThread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <deque>
#include <mutex>

namespace zub3::cli {
namespace {

constexpr quint16 kDefaultListenPort = 8734;
constexpr long long kMaxSecretBytes = 4096;
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

// HOST, HOST:PORT, [V6]:PORT or a bare IPv6 address.
std::pair<std::string, int> parseBroker(const std::string& text)
{
    const auto portOf = [](const std::string& p) {
        return static_cast<int>(cmdline::ParseInteger("mqtt", p, 1, 65535));
    };
    if (text.starts_with('[')) {
        const auto end = text.find(']');
        if (end == std::string::npos || end == 1 ||
            (end + 1 < text.size() && text[end + 1] != ':'))
            throw UsageError("--mqtt: '" + text + "' is not HOST[:PORT]");
        return {text.substr(1, end - 1), end + 1 < text.size() ? portOf(text.substr(end + 2)) : 0};
    }
    const auto colon = text.find(':');
    if (text.empty() || colon == 0)
        throw UsageError("--mqtt: give the broker as HOST or HOST:PORT");
    if (colon == std::string::npos || text.find(':', colon + 1) != std::string::npos)
        return {text, 0};
    return {text.substr(0, colon), portOf(text.substr(colon + 1))};
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

std::string receiverJson(const ReceiverSettings& s)
{
    return "{\"id\": " + std::to_string(s.id) + ", \"speed\": " + std::to_string(s.speed.bitRate) +
           "}";
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
        QMetaObject::invokeMethod(&context_, f, Qt::BlockingQueuedConnection);
    }
    // Runs f on the server's thread after what is already queued there.
    template <typename F> void Post(F f) { QMetaObject::invokeMethod(&context_, std::move(f)); }

    // Hands a record to the clients: it waits in a bounded queue, and the server's thread is
    // woken once for all that came while it was busy.
    void Publish(std::string json, bool changed)
    {
        bool wake = false;
        {
            std::lock_guard lock(mutex_);
            if (waiting_.size() >= kMaxWaitingRecords) {
                waiting_.pop_front();
                ++lost_;
            }
            wake = waiting_.empty();
            waiting_.emplace_back(std::move(json), changed);
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
        std::deque<std::pair<std::string, bool>> records;
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
        for (const auto& [json, changed] : records)
            web_->Publish(json, changed);
        web_->Flush();
    }

    QThread thread_;
    QObject context_;  // lives on thread_: what is invoked on it runs there
    std::unique_ptr<WebServer> web_;
    std::optional<std::string> error_;
    std::mutex mutex_;
    std::deque<std::pair<std::string, bool>> waiting_;
    long long lost_ = 0;
};

struct ServeSettings {
    WebSettings web;
    std::optional<MqttSettings> mqtt;
    bool mqttChangesOnly = false;
    PollSettings poll;
};

// Hands each record of the poll loop to the web clients and the broker; a write asked for
// over HTTP runs between two polls. The poll loop runs on this (the main) thread, the web
// server on its own: what crosses is posted.
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
          run_(loop_, stopSignals)
    {
        web_.Run([this] {
            web_.Server().ReceiverJson = [this] {
                std::lock_guard lock(receiverMutex_);
                return receiverJson_;
            };
            web_.Server().OnWrite = [this](int id, const LineSpeed& speed,
                                           WebServer::WriteReply reply) {
                // Asked on the server's thread, answered there too.
                QMetaObject::invokeMethod(&context_, [this, id, speed, reply] {
                    askWrite(id, speed, [&web = web_, reply](int status, const std::string& json) {
                        web.Post([reply, status, json] { reply(status, json); });
                    });
                });
            };
        });
    }

    int Run(const std::string& listening)
    {
        if (!loop_.Start()) {
            Note(summary());
            return kExitDone;
        }
        showReceiver();
        const auto present = loop_.Receiver();
        Note("zub3ctl: serving " + (present ? loop_.PortName() + " (" + Describe(*present) + ")"
                                            : given_) +
             " on " + listening + "\n");
        run_.Exec();
        // The server outlives this run: nothing it calls may reach this object any more.
        web_.Run([this, last = receiverJson_] {
            web_.Server().OnWrite = nullptr;
            web_.Server().ReceiverJson = [last] { return last; };
        });
        if (pendingWrite_)
            pendingWrite_->reply(503, "{\"error\": \"the server is ending\"}");
        Note(summary());
        return run_.Result();
    }

private:
    // As monitor's: a note, so that -q leaves it out with the others.
    std::string summary()
    {
        const long long clients = web_.ClientsServed();
        return loop_.Figures().Text(RecordCount(seq_, "published")) + std::to_string(clients) +
               (clients == 1 ? " WebSocket client" : " WebSocket clients") + " served\n";
    }

    struct PendingWrite {
        int id;
        LineSpeed speed;
        WebServer::WriteReply reply;
    };

    void askWrite(int id, const LineSpeed& speed, WebServer::WriteReply reply)
    {
        if (pendingWrite_)
            return reply(409, "{\"error\": \"a write is under way\"}");
        if (!loop_.Attached())
            return reply(503, "{\"error\": \"the receiver's port is away\"}");
        pendingWrite_ = PendingWrite{id, speed, std::move(reply)};
    }

    // What /api/receiver answers, kept for the server's thread.
    void showReceiver()
    {
        const auto present = loop_.Receiver();
        std::optional<std::string> json;
        if (present)
            json = receiverJson(*present);
        std::lock_guard lock(receiverMutex_);
        receiverJson_ = std::move(json);
    }

    void accepted(const Record& r)
    {
        ++seq_;
        const Summary& f = loop_.Figures();
        const std::string json =
            AddJsonField(AddJsonField(FormatRecord(Format::Jsonl, false, r), "seq", seq_),
                         "failed", f.Failures() + f.Rejections());
        const bool changed = !last_ || *last_ != r.data;
        last_ = r.data;
        if (seq_ == 1)
            showReceiver();  // found only now when its port was away at the start
        web_.Publish(json, changed);
        if (mqtt_ && (changed || !s_.mqttChangesOnly))
            mqtt_->Publish(json);
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
        showReceiver();
        if (error.empty())
            w.reply(200, receiverJson(present));
        else
            w.reply(502, "{\"error\": " + JsonString(error) + "}");
    }

    const std::string given_;
    const ServeSettings& s_;
    WebThread& web_;
    QObject context_;  // on this thread: what the server's thread asks of the loop runs here
    MqttLink* mqtt_;
    PollLoop loop_;
    PollRun run_;
    std::optional<PollData> last_;
    std::optional<PendingWrite> pendingWrite_;
    long long seq_ = 0;
    std::mutex receiverMutex_;
    std::optional<std::string> receiverJson_;
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
                            args.Has("mqtt-password-file") || args.Has("mqtt-cafile");
    if (!args.Has("mqtt")) {
        if (mqttOption || args.Has("changes"))
            throw UsageError("the --mqtt-... options and --changes need --mqtt");
        return s;
    }
    MqttSettings m;
    std::tie(m.host, m.port) = parseBroker(*args.Get("mqtt"));
    m.prefix = args.Get("mqtt-topic").value_or(defaultTopic(portName));
    if (m.prefix.empty() || m.prefix.find_first_of("+#") != std::string::npos ||
        m.prefix.ends_with('/'))
        throw UsageError("--mqtt-topic: '" + m.prefix +
                         "' is not a topic prefix (no + or #, no / at the end)");
    m.user = args.Get("mqtt-user");
    if (const auto v = args.Get("mqtt-password-file"))
        m.password = readSecret("mqtt-password-file", *v);
    if (m.password && !m.user)
        throw UsageError("--mqtt-password-file needs --mqtt-user");
    if (const auto v = args.Get("mqtt-cafile")) {
        if (::access(v->c_str(), R_OK) != 0)
            throw UsageError("--mqtt-cafile: " + *v + ": " + std::strerror(errno));
        m.cafile = *v;
    }
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
    PollTarget target{PortText(args), AskedSpeed(args), std::nullopt};
    if (args.Has("id") && !args.Has("speed"))
        throw UsageError("--id needs --speed");
    if (const auto id = args.Get("id"))
        target.id = static_cast<Byte>(ParseID("id", *id));
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
