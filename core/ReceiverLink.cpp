// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/ReceiverLink.h"

#include "core/Records.h"
#include "serial/CommX.h"

#include <algorithm>

namespace zub3 {

void SetReceiverLine(TCustomCommX& port)
{
    port.SetBitRate(kLineSpeeds[0].bitRate);
    port.SetParityBit(cpbEven);
    port.SetFlowCtrl(cfcNone);
    port.SetTimeOutReceive(500);
}

int Exchange(TCustomCommX& port, std::span<const Byte> request, std::span<Byte> reply)
{
    port.PurgeSend();
    port.PurgeReceive();
    port.Send(request.data(), static_cast<int>(request.size()));
    return port.Receive(reply.data(), static_cast<int>(reply.size()));
}

std::optional<ReceiverSettings> ReadSettings(TCustomCommX& port,
                                             std::span<const LineSpeed> speeds,
                                             const std::function<void(const LineSpeed&)>& noReply,
                                             const std::function<bool()>& cancelled)
{
    for (const LineSpeed& speed : speeds) {
        port.SetBitRate(speed.bitRate);
        std::array<Byte, kIdReplySize> reply{};
        const int count = Exchange(port, kIdQuery, reply);
        if (cancelled && cancelled())
            return std::nullopt;
        if (count == kIdReplySize) {
            const Byte id = GetID(reply[4]);
            if (id <= kMaxID)
                return ReceiverSettings{id, speed};
        } else if (noReply) {
            noReply(speed);
        }
    }
    return std::nullopt;
}

PollExchange Poll(TCustomCommX& port, Byte currentID)
{
    PollExchange p;
    p.sent = BuildPollFrame(currentID);
    p.count = Exchange(port, p.sent, p.received);
    if (p.Answered())
        p.data = DecodePollReply(p.received, p.sent, &p.fault);
    else
        p.fault = p.count > 0 ? PollFault::Short : PollFault::Missed;
    return p;
}

PollExchange Poll(TCustomCommX& port, Byte currentID, PollResult& result)
{
    result = StampPoll();
    PollExchange p = Poll(port, currentID);
    result.data = p.data;
    result.fault = p.fault;
    return p;
}

WriteExchange Write(TCustomCommX& port, const WriteFrame& frame)
{
    WriteExchange w;
    w.count = Exchange(port, frame, w.received);
    w.accepted = w.Answered() && CheckWriteReply(w.received, frame);
    return w;
}

}  // namespace zub3
