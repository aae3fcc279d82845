// SPDX-License-Identifier: GPL-3.0-or-later
#include "serve/WebSocketClient.h"

#include <QCryptographicHash>
#include <QTcpSocket>
#include <QTimer>
#include <QtEndian>

namespace zub3::cli {
namespace {

// Clients only listen: what they send is read and dropped, a message at most this long.
constexpr qint64 kMaxMessage = 1024;
// A close frame that the client does not take in this time is not waited for.
constexpr int kCloseDeadlineMs = 2'000;

enum Opcode : quint8 {
    Continuation = 0x0, Text = 0x1, Binary = 0x2, Close = 0x8, Ping = 0x9, Pong = 0xA
};
enum CloseCode : quint16 { Normal = 1000, ProtocolError = 1002, TooBig = 1009 };

QByteArray frameOf(quint8 opcode, QByteArrayView payload)
{
    QByteArray out;
    out.reserve(payload.size() + 10);
    out.append(char(0x80 | opcode));
    if (payload.size() < 126) {
        out.append(char(payload.size()));
    } else if (payload.size() <= 0xffff) {
        out.append(char(126));
        out.append(char(payload.size() >> 8)).append(char(payload.size() & 0xff));
    } else {
        out.append(char(127));
        for (int shift = 56; shift >= 0; shift -= 8)
            out.append(char((quint64(payload.size()) >> shift) & 0xff));
    }
    out.append(payload);
    return out;
}

}  // namespace

QString PeerName(const QAbstractSocket& socket)
{
    const QHostAddress address = socket.peerAddress();
    return address.isNull() ? QStringLiteral("a client gone")
                            : address.toString() + ":" + QString::number(socket.peerPort());
}

QByteArray WebSocketClient::AcceptKey(const QByteArray& key)
{
    const auto bytes = QByteArray::fromBase64Encoding(key, QByteArray::AbortOnBase64DecodingErrors);
    if (!bytes || bytes.decoded.size() != 16)
        return {};
    return QCryptographicHash::hash(key + "258EAFA5-E914-47DA-95CA-C5AB0DC85B11",
                                    QCryptographicHash::Sha1)
        .toBase64();
}

QByteArray WebSocketClient::TextFrame(QByteArrayView utf8)
{
    return frameOf(Text, utf8);
}

WebSocketClient::WebSocketClient(QTcpSocket* socket, qint64 unsentBound, QObject* parent)
    : QObject(parent), socket_(socket), unsentBound_(unsentBound),
      peer_(PeerName(*socket))
{
    socket_->setParent(this);
    connect(socket_, &QTcpSocket::readyRead, this, &WebSocketClient::read);
    connect(socket_, &QTcpSocket::disconnected, this, &WebSocketClient::finish);
    // Frames sent right behind the handshake are in the buffer already.
    read();
}

WebSocketClient::~WebSocketClient()
{
    socket_->disconnect(this);
}

void WebSocketClient::Flush()
{
    if (!ended_)
        socket_->flush();
}

qint64 WebSocketClient::Unsent() const
{
    return socket_->bytesToWrite();
}

bool WebSocketClient::Send(const QByteArray& frame)
{
    return !closing_ && !ended_ && write(frame);
}

bool WebSocketClient::write(const QByteArray& frame)
{
    if (socket_->bytesToWrite() + frame.size() > unsentBound_) {
        Abort(End::OverBound);
        return false;
    }
    socket_->write(frame);
    return true;
}

void WebSocketClient::Abort(End why)
{
    if (ended_)
        return;
    why_ = why;
    socket_->abort();
    finish();
}

void WebSocketClient::finish()
{
    if (ended_)
        return;
    ended_ = true;
    // Reported from the event loop, never from inside a Send: the server may be walking
    // its list of clients.
    QMetaObject::invokeMethod(
        this,
        [this] {
            emit Ended(why_, detail_);
            deleteLater();
        },
        Qt::QueuedConnection);
}

void WebSocketClient::read()
{
    if (ended_ || !socket_->isReadable())
        return;
    // The socket's read buffer is bounded, and in_ keeps at most one frame's start.
    in_ += socket_->read(socket_->bytesAvailable());
    if (closing_) {
        in_.clear();
        return;
    }
    while (frame()) {
    }
}

bool WebSocketClient::frame()
{
    if (in_.size() < 2)
        return false;
    const auto b0 = static_cast<quint8>(in_[0]);
    const auto b1 = static_cast<quint8>(in_[1]);
    const bool fin = b0 & 0x80;
    const quint8 opcode = b0 & 0x0f;
    const bool control = opcode & 0x8;
    qint64 header = 2;
    quint64 length = b1 & 0x7f;
    if (length == 126) {
        header = 4;
        if (in_.size() < header)
            return false;
        length = qFromBigEndian<quint16>(in_.constData() + 2);
    } else if (length == 127) {
        header = 10;
        if (in_.size() < header)
            return false;
        length = qFromBigEndian<quint64>(in_.constData() + 2);
    }
    if (b0 & 0x70) {
        fail(ProtocolError, "a frame with reserved bits set");
        return false;
    }
    // A client's frames are masked, so that a page's script cannot choose the bytes a
    // proxy on the way sees.
    if (!(b1 & 0x80)) {
        fail(ProtocolError, "an unmasked frame");
        return false;
    }
    const bool wellFormed = control ? opcode <= Pong && fin && length <= 125
                                    : opcode <= Binary && (opcode == Continuation) == inMessage_;
    if (!wellFormed) {
        fail(ProtocolError, "a malformed frame");
        return false;
    }
    if (!control && length > quint64(kMaxMessage - messageBytes_)) {
        fail(TooBig, "a message over 1 KiB");
        return false;
    }
    const qint64 size = header + 4 + qint64(length);
    if (in_.size() < size)
        return false;
    QByteArray payload = in_.sliced(header + 4, qint64(length));
    for (qsizetype i = 0; i < payload.size(); ++i)
        payload[i] = char(payload[i] ^ in_[header + (i % 4)]);
    in_.remove(0, size);

    switch (opcode) {
    case Ping:
        return write(frameOf(Pong, payload));
    case Pong:
        return true;
    case Close:
        if (payload.size() == 1) {
            fail(ProtocolError, "a close frame of one byte");
            return false;
        }
        sendClose(Normal, {});
        return false;
    default:
        inMessage_ = !fin;
        messageBytes_ = fin ? 0 : messageBytes_ + qint64(length);
        return true;
    }
}

void WebSocketClient::fail(quint16 code, const QString& why)
{
    why_ = End::Broken;
    detail_ = why;
    sendClose(code, why.toUtf8().left(123));
}

void WebSocketClient::sendClose(quint16 code, const QByteArray& reason)
{
    QByteArray payload(2, Qt::Uninitialized);
    qToBigEndian(code, payload.data());
    if (!write(frameOf(Close, payload + reason)))
        return;
    closing_ = true;
    in_.clear();
    // The close is flushed, then the connection ends; a client that does not take it is
    // cut off.
    QTimer::singleShot(kCloseDeadlineMs, this, [this] { Abort(why_); });
    socket_->disconnectFromHost();
}

}  // namespace zub3::cli
