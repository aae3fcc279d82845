// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The network side of "zub3ctl serve": the page, the JSON routes and the WebSocket stream
// on one address. A gate reads each request's head and body within limits and applies the
// address rules before Qt HttpServer or Qt WebSockets sees a byte; every WebSocket client
// has a bounded queue, so that one that stops reading holds up nothing.

#include "cli/Changes.h"
#include "core/Protocol.h"
#include "core/Records.h"

#include <QAbstractHttpServer>
#include <QHttpServerResponder>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QPointer>
#include <QTcpServer>
#include <QWebSocketServer>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QTimer;
class QWebSocket;

namespace zub3::cli {

struct WebSettings {
    QHostAddress address = QHostAddress::LocalHost;
    quint16 port = 8734;
    std::vector<std::string> allowHosts;    // lower case
    std::vector<std::string> allowOrigins;  // as browsers send them: scheme://host[:port]
    std::optional<std::string> token;       // writes are refused without one
    int maxClients = 64;
};

// What a request may be: beyond these, a 413 or 431 and the connection closed.
inline constexpr int kMaxRequestHead = 8192;
inline constexpr int kMaxRequestBody = 4096;

class WebServer;

// Answers one route: a parsed request from Qt HttpServer, one response, then the close.
class WebRoutes : public QAbstractHttpServer {
public:
    explicit WebRoutes(WebServer& server) : server_(server) {}
    ~WebRoutes() override;

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

private:
    void postReceiver(const QHttpServerRequest& request, QTcpSocket* socket);

    WebServer& server_;
    // Writes waiting for a gap between polls, until answered or their client has gone.
    std::map<QTcpSocket*, std::unique_ptr<QHttpServerResponder>> waiting_;
};

// Accepts connections and hands each to the gate's screening; passes screened ones on.
class WebGate : public QTcpServer {
    Q_OBJECT
public:
    using QTcpServer::QTcpServer;
    std::function<void(qintptr)> OnIncoming;
    using QTcpServer::addPendingConnection;

protected:
    void incomingConnection(qintptr descriptor) override { OnIncoming(descriptor); }
};

class WebServer : public QObject {
    Q_OBJECT
public:
    // The answer to a write: HTTP status and a JSON body.
    using WriteReply = std::function<void(int status, const std::string& json)>;
    // Asked to give the receiver a new ID and line speed between polls; replies once.
    std::function<void(int id, const LineSpeed& speed, WriteReply reply)> OnWrite;
    // An answer of a route: HTTP status and a JSON body.
    using Answer = std::pair<int, std::string>;
    // GET /api/state and GET /api/receiver, answered as they are at the time of the request.
    std::function<Answer()> StateJson;
    std::function<Answer()> ReceiverJson;

    explicit WebServer(WebSettings settings, QObject* parent = nullptr);
    ~WebServer() override;

    // Listens on the address; the reason when it cannot.
    std::optional<std::string> Start();

    // One record for the clients. Clients that asked for changes only are sent the others
    // once a second; a change of the link goes to every client.
    void Publish(const Record& record, const Served& served, bool linkChanged = false);

    quint16 Port() const { return gate_->serverPort(); }
    const WebSettings& Settings() const { return settings_; }

private:
    struct Client {
        QWebSocket* socket;
        ChangeFilter changes;
        long long dropped = 0;
        QElapsedTimer behindSince;  // valid while its queue is full
    };

    void accept(qintptr descriptor);
    void screen(QTcpSocket* socket);
    void release(QTcpSocket* socket);  // ends the screening, its deadline and its handlers
    void refuse(QTcpSocket* socket, int status, const std::string& reason);
    void toWebSocket(QTcpSocket* socket);
    void toRoutes(QTcpSocket* socket);
    void welcome();
    void send(Client& client, const Record& record, Served served, const QString& text);
    void drop(QWebSocket* socket);
    bool hostAllowed(const QByteArray& host) const;
    bool originAllowed(const QByteArray& origin, const QByteArray& host) const;

    WebSettings settings_;
    WebRoutes routes_;
    WebGate* gate_;  // owned by routes_ once bound
    QWebSocketServer sockets_;
    std::map<QTcpSocket*, QTimer*> screening_;    // reading a request, with its deadline
    std::vector<QPointer<QTcpSocket>> handshaking_;
    std::vector<Client> clients_;
};

}  // namespace zub3::cli
