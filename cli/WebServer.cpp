// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/WebServer.h"

#include "cli/Options.h"
#include "core/Records.h"

#include <QFile>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>
#include <QUrlQuery>
#include <QWebSocket>

#include <algorithm>
#include <charconv>

namespace zub3::cli {
namespace {

// A client must have sent its whole request within this time.
constexpr int kRequestDeadlineMs = 10'000;
// Connections still sending their request; more are closed at once.
constexpr std::size_t kMaxScreening = 128;
// What may wait in a WebSocket client's queue (some hundred records); beyond it records
// are dropped for that client, and a client whose queue stays full this long is closed.
constexpr qint64 kQueueBytes = 32 * 1024;
// The kernel's part of the queue, fixed so that it does not grow to megabytes unseen.
constexpr int kSocketSendBuffer = 32 * 1024;
constexpr qint64 kBehindLimitMs = 5'000;
// Clients only listen; what they send is read and dropped.
constexpr quint64 kMaxIncomingMessage = 1024;

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
        respond(*responder, status, "application/json", errorJson(error));
        socket->disconnectFromHost();
    };
    const auto& token = server_.Settings().token;
    if (!token)
        return answer(403, "writes are off: the server was started without --token-file");
    const QByteArray auth = request.value("Authorization");
    if (!auth.startsWith("Bearer ") || !sameText(auth.mid(7).trimmed().toStdString(), *token))
        return answer(401, "a write needs Authorization: Bearer and the server's token");

    const QJsonDocument doc = QJsonDocument::fromJson(request.body());
    const QJsonObject o = doc.object();
    if (!doc.isObject() || !o.contains("id") || !o.contains("speed"))
        return answer(400, "the body must be a JSON object {\"id\": N, \"speed\": S}");
    // The checks of "zub3ctl write", on the values as text, with their messages.
    const auto text = [](const QJsonValue& v) {
        return v.isDouble() ? QByteArray::number(v.toDouble(), 'g', 17).toStdString()
                            : v.isString() ? v.toString().toStdString() : std::string("?");
    };
    int id = 0;
    LineSpeed speed{};
    try {
        id = ParseID("id", text(o.value("id")));
        speed = ParseSpeed("speed", text(o.value("speed")));
    } catch (const UsageError& e) {
        std::string why = e.what();
        return answer(400, why.starts_with("--") ? why.substr(2) : why);
    }
    if (!server_.OnWrite)
        return answer(503, "the receiver is not ready");

    QTcpSocket* key = socket;
    waiting_[key] = std::move(responder);
    // A client that leaves before its answer takes its responder with it; the socket is
    // deleted only later, so the responder never outlives it.
    QObject::connect(socket, &QTcpSocket::disconnected, this, [this, key] { waiting_.erase(key); });
    QPointer<QTcpSocket> alive(socket);
    server_.OnWrite(id, speed, [this, key, alive](int status, const std::string& json) {
        const auto it = waiting_.find(key);
        if (!alive || it == waiting_.end())
            return;
        respond(*it->second, status, "application/json", QByteArray::fromStdString(json));
        waiting_.erase(it);
        alive->disconnectFromHost();
    });
}

// --- the gate ---

WebServer::WebServer(WebSettings settings, QObject* parent)
    : QObject(parent), settings_(std::move(settings)), routes_(*this), gate_(new WebGate(this)),
      sockets_(QStringLiteral("zub3ctl"), QWebSocketServer::NonSecureMode)
{
    gate_->OnIncoming = [this](qintptr descriptor) { accept(descriptor); };
    sockets_.setHandshakeTimeout(kRequestDeadlineMs);
    connect(&sockets_, &QWebSocketServer::newConnection, this, &WebServer::welcome);
}

WebServer::~WebServer()
{
    // Sockets report their end as they go: nothing of this object may hear it any more.
    const auto screening = std::exchange(screening_, {});
    for (const auto& [socket, deadline] : screening) {
        socket->disconnect(this);
        delete socket;
    }
    const auto clients = std::exchange(clients_, {});
    for (const Client& c : clients) {
        c.socket->disconnect(this);
        delete c.socket;
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
    if (!socket->setSocketDescriptor(descriptor) || screening_.size() >= kMaxScreening) {
        socket->abort();
        socket->deleteLater();
        return;
    }
    // Memory for a request is bounded before it is read.
    socket->setReadBufferSize(kMaxRequestHead + kMaxRequestBody + 1);
    auto* deadline = new QTimer(socket);
    deadline->setSingleShot(true);
    connect(deadline, &QTimer::timeout, socket, [this, socket] {
        refuse(socket, 408, "the request did not come in time");
    });
    deadline->start(kRequestDeadlineMs);
    screening_[socket] = deadline;
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] { screen(socket); });
    connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
        if (screening_.erase(socket))
            socket->deleteLater();
    });
}

void WebServer::release(QTcpSocket* socket)
{
    if (const auto it = screening_.find(socket); it != screening_.end()) {
        delete it->second;
        screening_.erase(it);
    }
    socket->disconnect(this);
}

void WebServer::refuse(QTcpSocket* socket, int status, const std::string& why)
{
    release(socket);
    const QByteArray body = errorJson(why);
    socket->write("HTTP/1.1 " + QByteArray::number(status) + " " + reason(status) +
                  "\r\nContent-Type: application/json\r\nContent-Length: " +
                  QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    socket->disconnectFromHost();
}

void WebServer::screen(QTcpSocket* socket)
{
    // Nothing is consumed: what passes goes on whole to Qt HttpServer or Qt WebSockets.
    const QByteArray data = socket->peek(socket->bytesAvailable());
    const qsizetype end = data.indexOf("\r\n\r\n");
    if (end < 0 || end + 4 > kMaxRequestHead) {
        if (data.size() > kMaxRequestHead || end + 4 > kMaxRequestHead)
            refuse(socket, 431, "the request's head is over 8 KiB");
        return;
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
    if (data.size() > end + 4 + length)
        return refuse(socket, 400, "one request per connection");

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
        toRoutes(socket);
        return;
    }
    if (!head->Field("upgrade").value_or("").toLower().contains("websocket"))
        return refuse(socket, 426, "/ws takes WebSocket connections only");
    if (const auto origin = head->Field("origin"); origin && !originAllowed(*origin, *host))
        return refuse(socket, 403, "WebSocket connections from " + origin->toStdString() +
                                       " are not taken; see --allow-origin");
    // A handshake that failed or timed out leaves its socket closed here.
    std::erase_if(handshaking_, [](const QPointer<QTcpSocket>& s) {
        if (s && s->state() == QAbstractSocket::ConnectedState)
            return false;
        if (s)
            s->deleteLater();
        return true;
    });
    if (clients_.size() + handshaking_.size() >= static_cast<std::size_t>(settings_.maxClients))
        return refuse(socket, 503, "the server has its most clients (--max-clients)");
    toWebSocket(socket);
}

void WebServer::toRoutes(QTcpSocket* socket)
{
    release(socket);
    gate_->addPendingConnection(socket);
    emit gate_->newConnection();
    // The request is already in the buffer: no further readyRead would come for it.
    emit socket->readyRead();
}

void WebServer::toWebSocket(QTcpSocket* socket)
{
    release(socket);
    socket->setReadBufferSize(0);
    socket->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, kSocketSendBuffer);
    handshaking_.emplace_back(socket);
    sockets_.handleConnection(socket);
    emit socket->readyRead();
}

void WebServer::welcome()
{
    while (QWebSocket* ws = sockets_.nextPendingConnection()) {
        std::erase_if(handshaking_, [ws](const QPointer<QTcpSocket>& s) {
            return s.isNull() || (s->peerPort() == ws->peerPort() && s->peerAddress() == ws->peerAddress());
        });
        ws->setParent(this);
        ws->setMaxAllowedIncomingMessageSize(kMaxIncomingMessage);
        ws->setMaxAllowedIncomingFrameSize(kMaxIncomingMessage);
        const bool changes = QUrlQuery(ws->requestUrl()).queryItemValue("changes") == "1";
        clients_.push_back(Client{ws, ChangeFilter(changes ? std::optional(kDefaultHeartbeatMs)
                                                           : std::nullopt),
                                  0, {}});
        connect(ws, &QWebSocket::disconnected, this, [this, ws] { drop(ws); });
        // The newest state at once, so that a page shows something before the next poll.
        if (const auto [status, json] = StateJson(); status == 200)
            ws->sendTextMessage(QString::fromStdString(json));
    }
}

void WebServer::drop(QWebSocket* socket)
{
    std::erase_if(clients_, [socket](const Client& c) { return c.socket == socket; });
    socket->deleteLater();
}

void WebServer::send(Client& c, const Record& r, Served served, const QString& text)
{
    if (c.socket->bytesToWrite() > kQueueBytes) {
        ++c.dropped;
        if (!c.behindSince.isValid())
            c.behindSince.start();
        return;
    }
    c.behindSince.invalidate();
    // Only a client that missed records needs a text of its own.
    served.dropped = c.dropped;
    c.socket->sendTextMessage(c.dropped ? QString::fromStdString(RecordJson(r, false, &served))
                                        : text);
    c.dropped = 0;
}

void WebServer::Publish(const Record& r, const Served& served, bool linkChanged)
{
    const QString text = QString::fromStdString(RecordJson(r, false, &served));
    std::vector<QWebSocket*> stuck;
    for (Client& c : clients_) {
        if (!c.changes.Pass(r, linkChanged))
            continue;
        send(c, r, served, text);
        if (c.behindSince.isValid() && c.behindSince.elapsed() > kBehindLimitMs)
            stuck.push_back(c.socket);
    }
    // Closing waits for nothing: its queue is full, so no close frame could pass.
    for (QWebSocket* ws : stuck)
        ws->abort();
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
