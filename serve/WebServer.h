// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The network side of "zub3ctl serve": the page, the JSON routes and the WebSocket stream
// on one address. A gate reads each request's head and body within limits and applies the
// address rules before Qt HttpServer or a WebSocket client sees a byte; every WebSocket
// client has a bounded queue, so that one that stops reading holds up nothing. No client
// address may hold more than its share of the unfinished requests or the WebSocket places.

#include "session/Changes.h"
#include "serve/WebSocketClient.h"
#include "core/Protocol.h"
#include "core/Records.h"

#include <QAbstractHttpServer>
#include <QHttpServerResponder>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QPointer>
#include <QTcpServer>
#include <QTimer>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zub3::cli {

struct WebSettings {
    QHostAddress address = QHostAddress::LocalHost;
    quint16 port = 8734;
    std::vector<std::string> allowHosts;    // lower case
    std::vector<std::string> allowOrigins;  // as browsers send them: scheme://host[:port]
    std::optional<std::string> token;       // writes are refused without one
    int maxClients = 64;
    int maxClientsPerAddress = 16;
    int maxPendingPerAddress = 16;  // connections of one address still sending a request
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
    // Records that never reached the server: every client's next one says it missed them.
    void Missed(long long records);
    // Writes what the clients' queues hold now, one write each (for all records published
    // since the last), rather than on the event loop's next round.
    void Flush();

    quint16 Port() const { return gate_->serverPort(); }
    const WebSettings& Settings() const { return settings_; }
    // WebSocket clients taken on since the start, for the summary.
    long long ClientsServed() const { return clientsServed_; }

private:
    struct Client {
        WebSocketClient* link;
        QHostAddress address;
        ChangeFilter changes;
        long long dropped = 0;
        QElapsedTimer behindSince;  // valid while its queue is full
    };
    // A connection still sending its request.
    struct Pending {
        QTimer* deadline;
        QHostAddress address;
        QElapsedTimer since;    // accepted
        qint64 lastData = 0;    // since.elapsed() when it last sent something
        bool headDone = false;  // only its body is awaited
    };

    void accept(qintptr descriptor);
    void makeRoom();  // closes the unfinished connection that has been idle longest
    void screen(QTcpSocket* socket);
    void release(QTcpSocket* socket);  // ends the screening, its deadline and its handlers
    void refuse(QTcpSocket* socket, int status, const std::string& reason);
    void toWebSocket(QTcpSocket* socket, qsizetype headSize, const QByteArray& target,
                     const QByteArray& acceptKey);
    void toRoutes(QTcpSocket* socket);
    void send(Client& client, const QByteArray& frame, const Record& record, Served served);
    void checkClients();
    void ended(WebSocketClient* link, WebSocketClient::End why, const QString& detail);
    bool hostAllowed(const QByteArray& host) const;
    bool originAllowed(const QByteArray& origin, const QByteArray& host) const;

    WebSettings settings_;
    WebRoutes routes_;
    WebGate* gate_;  // owned by routes_ once bound
    std::map<QTcpSocket*, Pending> screening_;  // reading a request
    std::vector<Client> clients_;
    QTimer clientCheck_;  // runs while there are clients, records or not
    long long clientsServed_ = 0;
};

}  // namespace zub3::cli
