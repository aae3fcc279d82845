// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The steps of the link to the receiver, shared by the window and the command line: one
// exchange (purge both sides, send, receive the reply's bytes), the settings read that tries
// the line speeds in order, and a poll and a write. Needs the serial component only, no
// widgets.

#include "core/Protocol.h"

#include <array>
#include <functional>
#include <optional>
#include <span>

class TCustomCommX;

namespace zub3 {

// The receiver's line on a port: the first of the line speeds, 8 data bits, even parity,
// one stop bit, no handshake and 500 ms for a reply. Applied to an open port at once.
void SetReceiverLine(TCustomCommX& port);

// Clears the transmit and receive sides, sends the request and waits for reply.size()
// bytes: the count Receive returned (the reply is complete only when it equals the size).
int Exchange(TCustomCommX& port, std::span<const Byte> request, std::span<Byte> reply);

struct ReceiverSettings {
    Byte id;
    LineSpeed speed;
};

// Asks for the ID at each of the speeds in turn, switching the port to it, and stops at the
// first that brings a valid ID. noReply is told of each speed whose reply stayed short.
// When cancelled says so after an exchange, the search ends there without a result.
std::optional<ReceiverSettings> ReadSettings(
    TCustomCommX& port, std::span<const LineSpeed> speeds,
    const std::function<void(const LineSpeed&)>& noReply = {},
    const std::function<bool()>& cancelled = {});

struct PollExchange {
    PollFrame sent{};
    std::array<Byte, kPollReplySize> received{};
    int count = 0;                  // what Receive returned
    std::optional<PollData> data;   // set when the reply came whole and passed its checks
    PollFault fault = PollFault::None;  // why data is not set

    bool Answered() const { return count == kPollReplySize; }
};

PollExchange Poll(TCustomCommX& port, Byte currentID);

struct PollResult;
// A poll as the front ends pass it on to records and listeners: result is stamped with both
// clocks as the poll is sent and takes what came back and why not.
PollExchange Poll(TCustomCommX& port, Byte currentID, PollResult& result);

struct WriteExchange {
    std::array<Byte, kWriteReplySize> received{};
    int count = 0;
    bool accepted = false;

    bool Answered() const { return count == kWriteReplySize; }
};

WriteExchange Write(TCustomCommX& port, const WriteFrame& frame);

}  // namespace zub3
