// SPDX-License-Identifier: GPL-3.0-or-later
#include "serve/WebServer.h"

#include "serve/Log.h"
#include "core/Records.h"

#include <QFile>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>
#include <QUrlQuery>

#include <algorithm>
#include <charconv>
#include <cmath>

namespace zub3::cli {
namespace {

// A client must have sent its request's head within the first time and all of it within
// the second: a head is one packet for any real client, so a slow one holds a place only
// briefly.
constexpr int kHeadDeadlineMs = 2'500;
constexpr int kRequestDeadlineMs = 10'000;
// Connections still sending their request; when all places are taken, the one that has
// been idle longest gives its place to the newcomer.
constexpr std::size_t kMaxScreening = 128;
// What may wait in a WebSocket client's queue (some hundred records); beyond it records
// are dropped for that client, and a client whose queue stays full this long is closed.
constexpr qint64 kQueueBytes = 32 * 1024;
// The kernel's part of the queue, fixed so that it does not grow to megabytes unseen.
constexpr int kSocketSendBuffer = 32 * 1024;
constexpr qint64 kBehindLimitMs = 5'000;
constexpr int kClientCheckMs = 250;
// The most a client's unsent bytes may ever be. Records stop at kQueueBytes, so only the
// answers to its own pings, and a close, can reach it: such a client is cut off.
constexpr qint64 kUnsentBound = 64 * 1024;
// A WebSocket client's input is read this much at a time; its largest frame fits.
constexpr qint64 kWebSocketReadBuffer = 4096;

struct Route {
    const char* path;
    std::initializer_list<const char*> methods;
};
const Route kRoutes[] = {
    {"/", {"GET"}},
    {"/api/state", {"GET"}},
    {"/api/receiver", {"GET", "POST"}},
    {"/ws", {"GET"}},
};

const char* reason(int status)
{
    switch (status) {
    case 200: return "OK";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 408: return "Request Timeout";
    case 411: return "Length Required";
    case 413: return "Content Too Large";
    case 421: return "Misdirected Request";
    case 426: return "Upgrade Required";
    case 431: return "Request Header Fields Too Large";
    case 502: return "Bad Gateway";
    case 503: return "Service Unavailable";
    default: return "Error";
    }
}

QByteArray errorJson(const std::string& text)
{
    return QJsonDocument(QJsonObject{{"error", QString::fromStdString(text)}})
        .toJson(QJsonDocument::Compact);
}

// A flood of refusals must not become a flood of lines that could hold the server up on a
// slow log: at most this many a second, the rest counted in the next second's first line.
constexpr int kRefusalLinesPerSecond = 20;

void logRefusal(const QTcpSocket& socket, int status, const std::string& why)
{
    if (!Logging(LogLevel::Warning))
        return;
    static QElapsedTimer window;
    static int lines = 0;
    static long long unlogged = 0;
    if (!window.isValid() || window.elapsed() >= 1000) {
        if (unlogged)
            Log(LogLevel::Warning, std::to_string(unlogged) + " more refusals not logged (over " +
                                       std::to_string(kRefusalLinesPerSecond) + " a second)");
        window.start();
        lines = 0;
        unlogged = 0;
    }
    if (++lines > kRefusalLinesPerSecond) {
        ++unlogged;
        return;
    }
    Log(LogLevel::Warning,
        PeerName(socket).toStdString() + ": refused, " + std::to_string(status) + " " + why);
}

struct WriteRequest {
    int id = 0;
    LineSpeed speed{};
};

// A whole number as JSON writes it, or as a string of digits.
std::optional<long long> wholeNumber(const QJsonValue& v)
{
    if (v.isDouble()) {
        const double d = v.toDouble();
        if (d != std::floor(d) || std::abs(d) > 1e15)
            return std::nullopt;
        return static_cast<long long>(d);
    }
    const std::string text = v.toString().toStdString();
    long long n = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (!v.isString() || text.empty() || ec != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return n;
}

std::string shown(const QJsonValue& v)
{
    const QJsonDocument doc(QJsonArray{v});
    const QByteArray text = doc.toJson(QJsonDocument::Compact);
    return text.mid(1, text.size() - 2).toStdString();  // without the array's brackets
}

// The ID and line speed a write asks for, or why the body does not give them.
std::optional<WriteRequest> readWrite(const QByteArray& body, std::string& why)
{
    const QJsonDocument doc = QJsonDocument::fromJson(body);
    const QJsonObject o = doc.object();
    if (!doc.isObject() || !o.contains("id") || !o.contains("speed")) {
        why = "the body must be a JSON object {\"id\": N, \"speed\": S}";
        return std::nullopt;
    }
    const auto id = wholeNumber(o.value("id"));
    if (!id || *id < 0 || *id > kMaxID) {
        why = "id: " + shown(o.value("id")) + " is not a number from 0 to " +
              std::to_string(kMaxID);
        return std::nullopt;
    }
    const auto rate = wholeNumber(o.value("speed"));
    const auto speed = rate && *rate > 0 && *rate <= 10'000'000
                           ? LineSpeedByBitRate(static_cast<int>(*rate))
                           : std::nullopt;
    if (!speed) {
        why = "speed: " + shown(o.value("speed")) + " is not 115200, 625000 or 1250000";
        return std::nullopt;
    }
    return WriteRequest{static_cast<int>(*id), *speed};
}

// The request line and the header fields, names in lower case. Strict: anything a proxy
// and this server could read differently (folded lines, a second Host or Content-Length,
// a field without a colon) makes the request malformed.
struct RequestHead {
    QByteArray method, target;
    std::vector<std::pair<QByteArray, QByteArray>> fields;

    std::optional<QByteArray> Field(const QByteArray& name) const
    {
        for (const auto& [n, v] : fields)
            if (n == name)
                return v;
        return std::nullopt;
    }
};

bool isToken(QByteArrayView text)
{
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
    });
}

// head: up to the blank line, without its CR LF pairs.
std::optional<RequestHead> parseHead(QByteArrayView head)
{
    RequestHead out;
    bool first = true;
    while (true) {
        const qsizetype crlf = head.indexOf("\r\n");
        const QByteArrayView line = crlf < 0 ? head : head.first(crlf);
        // A bare CR or LF is read differently by different parsers: refused.
        if (line.contains('\r') || line.contains('\n'))
            return std::nullopt;
        if (first) {
            const QList<QByteArray> parts = line.toByteArray().split(' ');
            if (parts.size() != 3 || !isToken(parts[0]) || !parts[1].startsWith('/') ||
                (parts[2] != "HTTP/1.1" && parts[2] != "HTTP/1.0"))
                return std::nullopt;
            out.method = parts[0];
            out.target = parts[1];
            first = false;
        } else {
            const qsizetype colon = line.indexOf(':');
            if (colon <= 0 || !isToken(line.first(colon)))
                return std::nullopt;
            const QByteArray name = line.first(colon).toByteArray().toLower();
            const QByteArray value = line.sliced(colon + 1).toByteArray().trimmed();
            if ((name == "host" || name == "content-length") && out.Field(name))
                return std::nullopt;
            out.fields.emplace_back(name, value);
        }
        if (crlf < 0)
            return out;
        head = head.sliced(crlf + 2);
    }
}

// host[:port] or [v6]:port, without the port, in lower case.
QByteArray hostName(const QByteArray& host)
{
    if (host.startsWith('[')) {
        const qsizetype end = host.indexOf(']');
        return end < 0 ? QByteArray() : host.mid(1, end - 1).toLower();
    }
    const qsizetype colon = host.indexOf(':');
    return (colon < 0 ? host : host.first(colon)).toLower();
}

bool sameText(const std::string& a, const std::string& b)
{
    // A token compared in constant time, so that timing tells nothing of its bytes.
    unsigned diff = a.size() == b.size() ? 0 : 1;
    for (std::size_t i = 0; i < a.size(); ++i)
        diff |= static_cast<unsigned char>(a[i]) ^
                static_cast<unsigned char>(i < b.size() ? b[i] : 0);
    return diff == 0;
}

void respond(QHttpServerResponder& responder, int status, const QByteArray& type,
             const QByteArray& body)
{
    responder.write(body,
                    {{"Content-Type", type},
                     {"Cache-Control", "no-store"},
                     {"X-Content-Type-Options", "nosniff"},
                     {"Connection", "close"}},
                    static_cast<QHttpServerResponder::StatusCode>(status));
}

const QByteArray& page()
{
    static const QByteArray html = [] {
        QFile file(":/serve/page.html");
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }();
    return html;
}

// The page brings everything with it and talks to this server only.
constexpr const char* kPagePolicy =
    "default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; "
    "connect-src 'self'; img-src data:; base-uri 'none'; form-action 'none'; "
    "frame-ancestors 'none'";

}  // namespace

// --- the routes ---

WebRoutes::~WebRoutes() = default;

bool WebRoutes::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket)
{
    // One request a connection: the gate screened only the first.
    if (socket->property("zub3.answered").toBool()) {
        socket->abort();
        return true;
    }
    socket->setProperty("zub3.answered", true);
    const QString path = request.url().path();
    if (path == "/api/receiver" && request.method() == QHttpServerRequest::Method::Post) {
        postReceiver(request, socket);
        return true;
    }
    QHttpServerResponder responder = makeResponder(request, socket);
    if (path == "/") {
        responder.write(page(),
                        {{"Content-Type", "text/html; charset=utf-8"},
                         {"Cache-Control", "no-store"},
                         {"X-Content-Type-Options", "nosniff"},
                         {"Content-Security-Policy", kPagePolicy},
                         {"Referrer-Policy", "no-referrer"},
                         {"Connection", "close"}});
    } else if (path == "/api/state" || path == "/api/receiver") {
        const auto [status, json] = path == "/api/state" ? server_.StateJson() : server_.ReceiverJson();
        respond(responder, status, "application/json", QByteArray::fromStdString(json));
    } else {
        respond(responder, 404, "application/json", errorJson("no such route"));
    }
    socket->disconnectFromHost();
    return true;
}

void WebRoutes::missingHandler(const QHttpServerRequest& request, QTcpSocket* socket)
{
    QHttpServerResponder responder = makeResponder(request, socket);
    respond(responder, 404, "application/json", errorJson("no such route"));
    socket->disconnectFromHost();
}

void WebRoutes::postReceiver(const QHttpServerRequest& request, QTcpSocket* socket)
{
    auto responder = std::make_unique<QHttpServerResponder>(makeResponder(request, socket));
    const auto answer = [&](int status, const std::string& error) {
        logRefusal(*socket, status, error);
        respond(*responder, status, "application/json", errorJson(error));
        socket->disconnectFromHost();
    };
    const auto& token = server_.Settings().token;
    if (!token)
        return answer(403, "writes are off: the server was started without --token-file");
    // The scheme's name is case-insensitive; the token is not.
    const QByteArray auth = request.value("Authorization").trimmed();
    const qsizetype space = auth.indexOf(' ');
    if (space <= 0 || auth.first(space).compare("bearer", Qt::CaseInsensitive) != 0 ||
        !sameText(auth.sliced(space + 1).trimmed().toStdString(), *token))
        return answer(401, "a write needs Authorization: Bearer and the server's token");

    std::string why;
    const auto asked = readWrite(request.body(), why);
    if (!asked)
        return answer(400, why);
    if (!server_.OnWrite)
        return answer(503, "the receiver is not ready");

    QTcpSocket* key = socket;
    waiting_[key] = std::move(responder);
    // A client that leaves before its answer takes its responder with it; the socket is
    // deleted only later, so the responder never outlives it.
    QObject::connect(socket, &QTcpSocket::disconnected, this, [this, key] { waiting_.erase(key); });
    QPointer<QTcpSocket> alive(socket);
    const auto reply = [this, key, alive](int status, const std::string& json) {
        const auto it = waiting_.find(key);
        if (!alive || it == waiting_.end())
            return;
        if (status >= 400)
            logRefusal(*alive, status, QJsonDocument::fromJson(QByteArray::fromStdString(json))
                                           .object().value("error").toString().toStdString());
        respond(*it->second, status, "application/json", QByteArray::fromStdString(json));
        waiting_.erase(it);
        alive->disconnectFromHost();
    };
    server_.OnWrite(asked->id, asked->speed, reply);
}

// --- the gate ---

WebServer::WebServer(WebSettings settings, QObject* parent)
    : QObject(parent), settings_(std::move(settings)), routes_(*this), gate_(new WebGate(this))
{
    gate_->OnIncoming = [this](qintptr descriptor) { accept(descriptor); };
    clientCheck_.setInterval(kClientCheckMs);
    connect(&clientCheck_, &QTimer::timeout, this, &WebServer::checkClients);
}

WebServer::~WebServer()
{
    // Sockets report their end as they go: nothing of this object may hear it any more.
    const auto screening = std::exchange(screening_, {});
    for (const auto& [socket, pending] : screening) {
        socket->disconnect(this);
        delete socket;
    }
    const auto clients = std::exchange(clients_, {});
    for (const Client& c : clients) {
        c.link->disconnect(this);
        delete c.link;
    }
}

std::optional<std::string> WebServer::Start()
{
    if (!gate_->listen(settings_.address, settings_.port))
        return "cannot listen on " + settings_.address.toString().toStdString() + ":" +
               std::to_string(settings_.port) + ": " + gate_->errorString().toStdString();
    routes_.bind(gate_);
    return std::nullopt;
}

void WebServer::accept(qintptr descriptor)
{
    auto* socket = new QTcpSocket(gate_);
    if (!socket->setSocketDescriptor(descriptor)) {
        socket->deleteLater();
        return;
    }
    // Memory for a request is bounded before it is read.
    socket->setReadBufferSize(kMaxRequestHead + kMaxRequestBody + 1);
    const QHostAddress address = socket->peerAddress();
    const auto fromThere = std::count_if(screening_.begin(), screening_.end(), [&](const auto& p) {
        return p.second.address == address;
    });
    if (fromThere >= settings_.maxPendingPerAddress)
        return refuse(socket, 503,
                      "this address has its most unfinished requests (--max-pending-per-address)");
    if (screening_.size() >= kMaxScreening)
        makeRoom();

    Pending pending{new QTimer(socket), address, {}};
    pending.since.start();
    pending.deadline->setSingleShot(true);
    connect(pending.deadline, &QTimer::timeout, socket, [this, socket] {
        const auto it = screening_.find(socket);
        refuse(socket, 408,
               it != screening_.end() && it->second.headDone
                   ? "the request's body did not come in time"
                   : "the request's head did not come in time");
    });
    pending.deadline->start(kHeadDeadlineMs);
    screening_.emplace(socket, pending);
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] { screen(socket); });
    connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
        release(socket);
        socket->deleteLater();
    });
}

void WebServer::makeRoom()
{
    const auto lastData = [](const auto& entry) {
        return entry.second.since.msecsSinceReference() + entry.second.lastData;
    };
    const auto idlest = std::min_element(
        screening_.begin(), screening_.end(),
        [&](const auto& a, const auto& b) { return lastData(a) < lastData(b); });
    refuse(idlest->first, 408, "the request made room for a newer one");
}

void WebServer::release(QTcpSocket* socket)
{
    if (const auto it = screening_.find(socket); it != screening_.end()) {
        delete it->second.deadline;
        screening_.erase(it);
    }
    socket->disconnect(this);
}

void WebServer::refuse(QTcpSocket* socket, int status, const std::string& why)
{
    release(socket);
    logRefusal(*socket, status, why);
    const QByteArray body = errorJson(why);
    socket->write("HTTP/1.1 " + QByteArray::number(status) + " " + reason(status) +
                  "\r\nContent-Type: application/json\r\nContent-Length: " +
                  QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    socket->disconnectFromHost();
}

void WebServer::screen(QTcpSocket* socket)
{
    // A socket may still report input after its end or after it was refused: only one in
    // the table, still open, is read.
    const auto it = screening_.find(socket);
    if (it == screening_.end() || !socket->isReadable())
        return;
    if (socket->state() != QAbstractSocket::ConnectedState) {
        release(socket);  // gone already: there is no one to answer
        socket->deleteLater();
        return;
    }
    Pending& pending = it->second;
    pending.lastData = pending.since.elapsed();
    // Nothing is consumed: what passes goes on whole to Qt HttpServer or the WebSocket client.
    const QByteArray data = socket->peek(socket->bytesAvailable());
    const qsizetype end = data.indexOf("\r\n\r\n");
    if (end < 0 || end + 4 > kMaxRequestHead) {
        if (data.size() > kMaxRequestHead || end + 4 > kMaxRequestHead)
            refuse(socket, 431, "the request's head is over 8 KiB");
        return;
    }
    if (!pending.headDone) {
        // The body keeps what is left of the whole request's time.
        pending.headDone = true;
        pending.deadline->start(
            static_cast<int>(std::max<qint64>(0, kRequestDeadlineMs - pending.since.elapsed())));
    }
    const auto head = parseHead(QByteArrayView(data).first(end));
    if (!head)
        return refuse(socket, 400, "malformed request");
    if (head->Field("transfer-encoding"))
        return refuse(socket, 411, "a body needs a Content-Length");
    long long length = 0;
    if (const auto text = head->Field("content-length")) {
        const auto [ptr, ec] = std::from_chars(text->data(), text->data() + text->size(), length);
        if (text->isEmpty() || ec != std::errc() || ptr != text->data() + text->size() || length < 0)
            return refuse(socket, 400, "malformed Content-Length");
        if (length > kMaxRequestBody)
            return refuse(socket, 413, "a body may hold at most 4 KiB");
    }
    if (data.size() < end + 4 + length)
        return;  // the rest of the body is on its way

    const auto host = head->Field("host");
    if (!host)
        return refuse(socket, 400, "the request has no Host");
    if (!hostAllowed(*host))
        return refuse(socket, 421, "this server does not answer for " + host->toStdString());
    const QByteArray path = head->target.first(
        head->target.contains('?') ? head->target.indexOf('?') : head->target.size());
    const auto route = std::find_if(std::begin(kRoutes), std::end(kRoutes),
                                    [&](const Route& r) { return path == r.path; });
    if (route == std::end(kRoutes))
        return refuse(socket, 404, "no such route");
    if (std::none_of(route->methods.begin(), route->methods.end(),
                     [&](const char* m) { return head->method == m; }))
        return refuse(socket, 405, "method not allowed here");
    if (path != "/ws") {
        if (data.size() > end + 4 + length)
            return refuse(socket, 400, "one request per connection");
        toRoutes(socket);
        return;
    }
    if (!head->Field("upgrade").value_or("").toLower().contains("websocket"))
        return refuse(socket, 426, "/ws takes WebSocket connections only");
    if (const auto origin = head->Field("origin"); origin && !originAllowed(*origin, *host))
        return refuse(socket, 403, "WebSocket connections from " + origin->toStdString() +
                                       " are not taken; see --allow-origin");
    if (length > 0 || !head->Field("connection").value_or("").toLower().contains("upgrade"))
        return refuse(socket, 400, "malformed WebSocket handshake");
    if (head->Field("sec-websocket-version") != "13")
        return refuse(socket, 426, "WebSocket version 13 only");
    const QByteArray acceptKey =
        WebSocketClient::AcceptKey(head->Field("sec-websocket-key").value_or(""));
    if (acceptKey.isEmpty())
        return refuse(socket, 400, "malformed Sec-WebSocket-Key");
    if (clients_.size() >= static_cast<std::size_t>(settings_.maxClients))
        return refuse(socket, 503, "the server has its most clients (--max-clients)");
    const QHostAddress address = socket->peerAddress();
    if (std::count_if(clients_.begin(), clients_.end(), [&](const Client& c) {
            return c.address == address;
        }) >= settings_.maxClientsPerAddress)
        return refuse(socket, 503,
                      "this address has its most WebSocket clients (--max-clients-per-address)");
    toWebSocket(socket, end + 4, head->target, acceptKey);
}

void WebServer::toRoutes(QTcpSocket* socket)
{
    release(socket);
    gate_->addPendingConnection(socket);
    emit gate_->newConnection();
    // The request is already in the buffer: no further readyRead would come for it.
    emit socket->readyRead();
}

void WebServer::toWebSocket(QTcpSocket* socket, qsizetype headSize, const QByteArray& target,
                            const QByteArray& acceptKey)
{
    release(socket);
    socket->skip(headSize);
    socket->setReadBufferSize(kWebSocketReadBuffer);
    socket->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, kSocketSendBuffer);
    socket->write("HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\n"
                  "Connection: Upgrade\r\nSec-WebSocket-Accept: " + acceptKey + "\r\n\r\n");
    const bool changes =
        QUrlQuery(QUrl(QString::fromUtf8(target))).queryItemValue("changes") == "1";
    auto* link = new WebSocketClient(socket, kUnsentBound, this);
    clients_.push_back(Client{link, socket->peerAddress(),
                              ChangeFilter(changes ? std::optional(kDefaultHeartbeatMs) : std::nullopt),
                              0, {}});
    ++clientsServed_;
    connect(link, &WebSocketClient::Ended, this,
            [this, link](WebSocketClient::End why, const QString& detail) {
                ended(link, why, detail);
            });
    Log(LogLevel::Info, link->Peer().toStdString() + ": WebSocket client in (" +
                            std::to_string(clients_.size()) + " now)");
    clientCheck_.start();
    // The newest state at once, so that a page shows something before the next poll.
    if (const auto [status, json] = StateJson(); status == 200)
        link->Send(WebSocketClient::TextFrame(QByteArray::fromStdString(json)));
}

void WebServer::ended(WebSocketClient* link, WebSocketClient::End why, const QString& detail)
{
    std::erase_if(clients_, [link](const Client& c) { return c.link == link; });
    if (clients_.empty())
        clientCheck_.stop();
    std::string text;
    switch (why) {
    case WebSocketClient::End::ClosedByClient: text = "closed by the client"; break;
    case WebSocketClient::End::Broken: text = "broke the protocol: " + detail.toStdString(); break;
    case WebSocketClient::End::Behind:
        text = "too far behind (its queue full for " + std::to_string(kBehindLimitMs / 1000) +
               " s)";
        break;
    case WebSocketClient::End::OverBound:
        text = "over its bound of " + std::to_string(kUnsentBound / 1024) + " KiB unsent";
        break;
    }
    Log(LogLevel::Info, link->Peer().toStdString() + ": WebSocket client out, " + text);
}

void WebServer::send(Client& c, const QByteArray& frame, const Record& r, Served served)
{
    if (c.link->Unsent() > kQueueBytes) {
        ++c.dropped;
        if (!c.behindSince.isValid())
            c.behindSince.start();
        return;
    }
    c.behindSince.invalidate();
    // Only a client that missed records needs a frame of its own.
    served.dropped = c.dropped;
    const bool sent =
        c.dropped ? c.link->Send(WebSocketClient::TextFrame(
                        QByteArray::fromStdString(RecordJson(r, false, &served))))
                  : c.link->Send(frame);
    if (sent)
        c.dropped = 0;
}

void WebServer::checkClients()
{
    // Also while no record comes (a silent receiver, a port away): a client's queue only
    // shrinks when it reads.
    for (Client& c : clients_) {
        if (c.link->Unsent() <= kQueueBytes)
            c.behindSince.invalidate();
        else if (!c.behindSince.isValid())
            c.behindSince.start();
        else if (c.behindSince.elapsed() > kBehindLimitMs)
            // Closing waits for nothing: its queue is full, so no close frame could pass.
            c.link->Abort(WebSocketClient::End::Behind);
    }
}

void WebServer::Publish(const Record& r, const Served& served, bool linkChanged)
{
    const QByteArray frame =
        WebSocketClient::TextFrame(QByteArray::fromStdString(RecordJson(r, false, &served)));
    for (Client& c : clients_)
        if (c.changes.Pass(r, linkChanged))
            send(c, frame, r, served);
}

void WebServer::Missed(long long records)
{
    for (Client& c : clients_)
        c.dropped += records;
}

void WebServer::Flush()
{
    for (Client& c : clients_)
        c.link->Flush();
}

bool WebServer::hostAllowed(const QByteArray& host) const
{
    const QByteArray name = hostName(host);
    if (name.isEmpty())
        return false;
    if (name == "localhost")
        return true;
    const std::string text = name.toStdString();
    if (std::find(settings_.allowHosts.begin(), settings_.allowHosts.end(), text) !=
        settings_.allowHosts.end())
        return true;
    const QHostAddress literal(QString::fromLatin1(name));
    if (literal.isNull())
        return false;  // a name, as DNS rebinding brings: only those allowed above
    // Listening on every address: any address of this machine is the server's own.
    const bool wildcard = settings_.address == QHostAddress::Any ||
                          settings_.address == QHostAddress::AnyIPv4 ||
                          settings_.address == QHostAddress::AnyIPv6;
    return wildcard || literal.isEqual(settings_.address);
}

bool WebServer::originAllowed(const QByteArray& origin, const QByteArray& host) const
{
    const QByteArray lower = origin.toLower();
    if (lower == "http://" + host.toLower())
        return true;
    return std::find(settings_.allowOrigins.begin(), settings_.allowOrigins.end(),
                     lower.toStdString()) != settings_.allowOrigins.end();
}

}  // namespace zub3::cli
