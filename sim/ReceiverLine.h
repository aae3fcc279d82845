// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The virtual receiver's side of the line the tool opens: a pseudo-terminal's master, or a
// network port that speaks RFC 2217 to its one client. The receiver waits on Fd() and reads
// when it is readable; it hears data only while the other side's settings are its own.

#include "core/Protocol.h"
#include "platform/UniqueFd.h"

#include <cstddef>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>

namespace zub3::sim {

using platform::UniqueFd;

// what: errno's text, for a failed system call.
std::runtime_error SystemError(const std::string& what);

class ReceiverLine {
public:
    virtual ~ReceiverLine() = default;
    // What the tool opens: "/dev/pts/3", "rfc2217://127.0.0.1:7000".
    virtual const std::string& Device() const = 0;
    // Readable when Read has something to do.
    virtual int Fd() const = 0;
    // Line data heard into buf: its count, 0 when nothing came (only the line's own
    // business). Throws std::runtime_error when the line failed for good.
    virtual std::size_t Read(std::span<Byte> buf) = 0;
    // Never blocks: bytes the other side does not take are lost, as on a wire.
    virtual void Write(std::span<const Byte> bytes) = 0;
    // Whether the other side is set to this bit rate and the receiver's framing, so that
    // what it sends is understood.
    virtual bool AtSpeed(int bitRate) const = 0;
};

// A pseudo-terminal in raw mode. Throws std::runtime_error when none can be had.
std::unique_ptr<ReceiverLine> OpenPtyLine();

// Where to listen: "HOST:PORT", HOST a name, an IPv4 address or an IPv6 one in brackets,
// PORT 0 (any free one) to 65535. Throws std::invalid_argument for anything else.
struct ListenAddress {
    std::string host;  // without brackets
    std::string port;
};
ListenAddress ParseListenAddress(const std::string& text);

// An RFC 2217 server listening there, one client at a time; a second is turned away while
// one is connected. Throws std::runtime_error when it cannot listen.
std::unique_ptr<ReceiverLine> ListenNetworkLine(const ListenAddress& address);

}  // namespace zub3::sim
