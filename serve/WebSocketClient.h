// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The server's side of one WebSocket connection, on a socket whose opening handshake the
// gate has read: frames the client sends are checked and dropped (pings answered, a close
// returned), and every frame this side writes, data or control, counts against one bound
// of unsent bytes. A client over it is cut off at once, so that one that sends and never
// reads cannot make the server hold its answers without end.

#include <QByteArray>
#include <QObject>
#include <QString>

class QAbstractSocket;
class QTcpSocket;

namespace zub3::cli {

// ADDRESS:PORT of the socket's peer, as the log names a client; "a client gone" when the
// peer left before it could be asked.
QString PeerName(const QAbstractSocket& socket);

class WebSocketClient : public QObject {
    Q_OBJECT
public:
    // Why a client went: its "out" in the log.
    enum class End { ClosedByClient, Broken, Behind, OverBound };

    // The accept value of an opening handshake's Sec-WebSocket-Key; empty when the key is
    // not 16 bytes in base64.
    static QByteArray AcceptKey(const QByteArray& key);
    // One unfragmented text frame, built once however many clients it goes to.
    static QByteArray TextFrame(QByteArrayView utf8);

    // Takes over the socket (the 101 answer already written to it); unsentBound is the
    // most its unsent bytes may be.
    WebSocketClient(QTcpSocket* socket, qint64 unsentBound, QObject* parent);
    ~WebSocketClient() override;

    // Queues a frame; false when the client is closing or was cut off for it.
    bool Send(const QByteArray& frame);
    // Writes what is queued now rather than on the event loop's next round.
    void Flush();
    // Bytes written but not yet taken by the peer's side of the connection.
    qint64 Unsent() const;
    // Cuts the connection without a close frame: there is no room for one.
    void Abort(End why);
    QString Peer() const { return peer_; }

signals:
    // Once, when the connection has ended; the object is deleted later.
    void Ended(End why, const QString& detail);

private:
    void read();
    // Consumes one frame from in_; false when it is not all there yet or the client is gone.
    bool frame();
    void fail(quint16 code, const QString& why);
    void sendClose(quint16 code, const QByteArray& reason);
    bool write(const QByteArray& frame);
    void finish();

    QTcpSocket* socket_;
    const qint64 unsentBound_;
    const QString peer_;
    QByteArray in_;
    bool inMessage_ = false;  // between the first and the last frame of a fragmented one
    qint64 messageBytes_ = 0;
    bool closing_ = false;
    bool ended_ = false;
    End why_ = End::ClosedByClient;  // until a reason of this side's own
    QString detail_;
};

}  // namespace zub3::cli
