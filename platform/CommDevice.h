// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Inside the serial communications unit: what a port is built on. The port (CommPort.cpp) does
// the overlapped I/O, time-outs, event waits and error flags over a non-blocking descriptor;
// a device supplies the descriptor and everything that differs between a tty, a network
// port and the fake.

#include "platform/Comm.h"

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace platform::win::detail {

// The driver's running counts of line errors and breaks.
struct LineCounters {
    std::uint32_t frame = 0;
    std::uint32_t parity = 0;
    std::uint32_t overrun = 0;
    std::uint32_t brk = 0;
};

class CommDevice {
public:
    virtual ~CommDevice() = default;

    // Non-blocking; its readiness is watched edge-triggered. Hang-up shows as EPOLLHUP or
    // EPOLLRDHUP, or a read giving 0 or failing with EIO.
    virtual int Fd() const = 0;
    // As read(2) and write(2); errno set on -1.
    virtual ssize_t ReadSome(void* buffer, std::size_t count);
    virtual ssize_t WriteSome(const void* buffer, std::size_t count);
    // Bytes that a read would return now (FIONREAD by default).
    virtual std::size_t InQueue();

    // True when line settings and modem lines wait for a peer's answer (a network port's
    // server); the port then waits for them off the window's thread.
    virtual bool WaitsForPeer() const { return false; }

    virtual bool SetQueues(DWORD inQueue, DWORD outQueue) = 0;
    virtual DCB State() const = 0;
    // False when the device refuses the settings; it then keeps its previous ones. errno
    // ENOTCONN says the device went meanwhile (a network port's connection).
    virtual bool SetState(const DCB& dcb) = 0;
    virtual bool AcceptTimeouts(const COMMTIMEOUTS& timeouts) = 0;
    virtual bool SetModemLine(DWORD escapeFunction) = 0;
    // DTR and RTS as the block's controls say; a handshake or toggle leaves RTS to the line.
    void SetModemLines(const DCB& dcb);
    // None where the driver keeps no counters (pseudo terminals). Not const: a device may
    // have to read what came to know them.
    virtual std::optional<LineCounters> Counters() = 0;
    virtual void FlushInput() = 0;
    virtual void FlushOutput() = 0;
    // Blocks until what was written has left the line, or FlushOutput discards it. Runs
    // without the port's lock, alongside the other calls.
    virtual void Drain() = 0;
};

// Settings that no device can take: both devices refuse them alike.
bool SettingsValid(const DCB& dcb);
// Drivers and servers keep or clip a rate they cannot make; only a rate within 1 % is the
// one asked for.
bool RateTaken(std::uint32_t asked, std::uint32_t got);

// Null with error set when the device cannot be opened; the refusal also sets
// platform::ports::SetLastOpenRefusal when its cause is known.
std::unique_ptr<CommDevice> OpenTtyDevice(const std::string& path, bool exclusive, DWORD& error);
// A serial port behind an RFC 2217 server: address "rfc2217://HOST:PORT".
std::unique_ptr<CommDevice> OpenNetworkDevice(const std::string& address, DWORD& error);

// How long a network port waits for its whole open (resolving, connecting, the first
// answers) and for the answer to a line setting. Tests shorten them to see a misbehaving
// server out quickly; programs keep these.
struct NetworkTimes {
    std::chrono::milliseconds open{5000};
    std::chrono::milliseconds answer{3000};
};
void SetNetworkTimes(const NetworkTimes& times);
NetworkTimes CurrentNetworkTimes();

// Tests put devices of their own in front of the real ones: CreateFileA asks the opener
// first, by port name ("COMn"); null with error 0 means it has no such port. Programs
// never register one.
using DeviceOpener = std::unique_ptr<CommDevice> (*)(const std::string& portName, DWORD& error);
void RegisterTestDeviceOpener(DeviceOpener opener);

}  // namespace platform::win::detail
