// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A serial device for tests, behind the same calls as a real port: bytes arrive as the test
// says, with line errors and breaks counted as a UART counts them; what the port writes
// leaves the line at its bit rate (FlushFileBuffers waits for that); what the port writes,
// the line levels and every device-control block it was given can be looked at; and a
// chosen setting can be refused.

#include "platform/Comm.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace platform::win {

namespace detail {
struct FakeLine;
}

class FakeComm {
public:
    // CreateFileA finds the device as "\\.\COM<portNumber>" while this object lives, before
    // the serial-port registry. Throws std::invalid_argument when another fake has that port.
    explicit FakeComm(int portNumber);
    ~FakeComm();
    FakeComm(const FakeComm&) = delete;
    FakeComm& operator=(const FakeComm&) = delete;

    bool IsOpen() const;

    // Bytes arriving on the line. The line errors (CE_FRAME, CE_RXPARITY, CE_OVERRUN) and
    // breaks are counted before the bytes come in, and the port notices them with the bytes
    // (a break arrives as a NUL byte). Nothing arrives while the device is closed.
    void Arrive(const std::vector<std::uint8_t>& bytes, DWORD lineErrors = 0, int breaks = 0);
    // The far side goes away: the open port hangs up.
    void HangUp();

    // SetCommState fails for every block the function returns true for.
    void RefuseState(std::function<bool(const DCB&)> refuses);
    void RefuseQueues(bool refuse);
    void RefuseTimeouts(bool refuse);
    // While held, the line takes no byte, as if stopped by flow control: writes stay
    // pending until they are purged, time out or the port closes.
    void HoldWrites(bool hold);
    int WritesHeld() const;  // write attempts the hold has turned away

    struct LineEvent {
        enum Kind { Write, Rts, Dtr } kind;
        unsigned value;  // bytes written, or the line's new level
        std::chrono::steady_clock::time_point when;
    };
    // Writes and every setting of RTS and DTR, by SetCommState or EscapeCommFunction.
    std::vector<LineEvent> Events() const;
    std::vector<std::uint8_t> Written() const;
    std::vector<DCB> StatesGiven() const;  // every block given, refused ones too
    DCB State() const;                     // the last one taken
    bool Rts() const;
    bool Dtr() const;
    DWORD InQueue() const;
    DWORD OutQueue() const;
    COMMTIMEOUTS Timeouts() const;

private:
    std::shared_ptr<detail::FakeLine> line_;
};

}  // namespace platform::win
