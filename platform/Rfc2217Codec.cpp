// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Rfc2217Codec.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace platform::win::detail {

using namespace telnet;

void Rfc2217Codec::Feed(const std::uint8_t* bytes, std::size_t count)
{
    overran_ = false;
    for (std::size_t i = 0; i < count; ++i)
        decode(bytes[i]);
    if (overran_)
        ++counters_.overrun;
}

void Rfc2217Codec::keep(std::uint8_t b)
{
    if (DataSize() >= capacity_) {
        overran_ = true;
        return;
    }
    if (head_ > 0 && data_.size() == data_.capacity()) {  // reuse what was taken
        data_.erase(data_.begin(), data_.begin() + static_cast<std::ptrdiff_t>(head_));
        head_ = 0;
    }
    data_.push_back(b);
}

std::size_t Rfc2217Codec::TakeData(std::uint8_t* out, std::size_t count)
{
    const std::size_t n = std::min(count, DataSize());
    if (n == 0)  // an empty vector's data() may be null, which memcpy must not get
        return 0;
    std::memcpy(out, data_.data() + head_, n);
    head_ += n;
    if (head_ == data_.size())
        DropData();
    return n;
}

void Rfc2217Codec::DropData()
{
    data_.clear();
    head_ = 0;
}

std::string Rfc2217Codec::DataText() const
{
    return std::string(data_.begin() + static_cast<std::ptrdiff_t>(head_), data_.end());
}

void Rfc2217Codec::Offer()
{
    // An option already agreed is not offered again (RFC 854): that would start a loop.
    // The serial-port control is the client's to do and the server's to ask for.
    const bool client = role_ == Role::Client;
    for (const std::uint8_t option : {BINARY, COM_PORT})
        if ((client || option != COM_PORT) && !us_[option] && !std::exchange(askedUs_[option], true))
            output_.insert(output_.end(), {IAC, WILL, option});
    for (const std::uint8_t option : {BINARY, COM_PORT})
        if ((!client || option != COM_PORT) && !him_[option] && !std::exchange(askedHim_[option], true))
            output_.insert(output_.end(), {IAC, DO, option});
}

void Rfc2217Codec::Request(std::uint8_t code, const Bytes& value)
{
    Reply& a = answers_[code];
    a.asked = value;
    a.fresh = false;
    ++a.owed;
    subnegotiate(code, value);
}

Rfc2217Codec::Bytes Rfc2217Codec::Value32(std::uint32_t v)
{
    return {static_cast<std::uint8_t>(v >> 24), static_cast<std::uint8_t>(v >> 16),
            static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)};
}

bool Rfc2217Codec::Answered(std::uint8_t code) const
{
    return answers_[code].fresh;
}

std::uint32_t Rfc2217Codec::Answer32(std::uint8_t code) const
{
    const Bytes& v = answers_[code].value;
    std::uint32_t x = 0;
    for (std::size_t i = 0; i < 4 && i < v.size(); ++i)
        x = (x << 8) | v[i];
    return x;
}

void Rfc2217Codec::AnswerRequest(std::uint8_t code, const Bytes& value)
{
    subnegotiate(static_cast<std::uint8_t>(code + kAnswerOffset), value);
}

void Rfc2217Codec::subnegotiate(std::uint8_t code, const Bytes& value)
{
    output_.insert(output_.end(), {IAC, SB, COM_PORT, code});
    Escape(value.data(), value.size(), output_);
    output_.insert(output_.end(), {IAC, SE});
}

void Rfc2217Codec::Escape(const std::uint8_t* bytes, std::size_t count, Bytes& out)
{
    for (std::size_t i = 0; i < count; ++i) {
        out.push_back(bytes[i]);
        if (bytes[i] == IAC)
            out.push_back(IAC);
    }
}

void Rfc2217Codec::reply(std::initializer_list<std::uint8_t> bytes)
{
    if (output_.size() < kMaxOutput)
        output_.insert(output_.end(), bytes);
}

void Rfc2217Codec::decode(std::uint8_t b)
{
    switch (rx_) {
    case Rx::Data:
        if (b == IAC)
            rx_ = Rx::Command;
        else
            keep(b);
        return;
    case Rx::Command:
        rx_ = Rx::Data;
        if (b == IAC) {
            keep(IAC);
        } else if (b == SB) {
            sub_.clear();
            rx_ = Rx::Sub;
        } else if (b >= WILL) {
            verb_ = b;
            rx_ = Rx::Option;
        }
        // NOP, go-ahead, data mark and the like mean nothing on a serial line.
        return;
    case Rx::Option:
        rx_ = Rx::Data;
        negotiate(verb_, b);
        return;
    case Rx::Sub:
        if (b == IAC)
            rx_ = Rx::SubCommand;
        else if (sub_.size() < kMaxSubnegotiation)
            sub_.push_back(b);
        return;
    case Rx::SubCommand:
        if (b == IAC) {
            if (sub_.size() < kMaxSubnegotiation)
                sub_.push_back(IAC);
            rx_ = Rx::Sub;
            return;
        }
        subnegotiation();
        // Anything but SE ends the sub-negotiation too, and is a command of its own.
        rx_ = Rx::Command;
        if (b != SE)
            decode(b);
        else
            rx_ = Rx::Data;
        return;
    }
}

void Rfc2217Codec::subnegotiation()
{
    if (sub_.size() < 2 || sub_[0] != COM_PORT)
        return;
    if (role_ == Role::Server) {
        if (sub_[1] < kAnswerOffset && requests_.size() < kMaxRequests)
            requests_.push_back({sub_[1], Bytes(sub_.begin() + 2, sub_.end())});
        return;
    }
    if (sub_[1] < kAnswerOffset)
        return;
    const std::uint8_t code = sub_[1] - kAnswerOffset;
    const Bytes value(sub_.begin() + 2, sub_.end());
    switch (code) {
    case NOTIFY_LINESTATE:
        if (!value.empty()) {
            const std::uint8_t line = value[0];
            counters_.overrun += (line & LINE_OVERRUN) ? 1 : 0;
            counters_.parity += (line & LINE_PARITY) ? 1 : 0;
            counters_.frame += (line & LINE_FRAMING) ? 1 : 0;
            counters_.brk += (line & LINE_BREAK) ? 1 : 0;
        }
        return;
    case NOTIFY_MODEMSTATE:  // the lines this client does not watch
        return;
    case FLOWCONTROL_SUSPEND:
    case FLOWCONTROL_RESUME:
        suspended_ = code == FLOWCONTROL_SUSPEND;
        return;
    default:
        break;
    }
    if (code >= answers_.size() || value.empty())
        return;
    Reply& a = answers_[code];
    // With earlier requests still owed an answer, this one may be theirs; it counts for the
    // latest only when it says what the latest asked. Value 0 asks without changing.
    const bool owedEarlier = a.owed > 1;
    if (a.owed > 0)
        --a.owed;
    a.value = value;
    const bool query = std::all_of(a.asked.begin(), a.asked.end(), [](std::uint8_t b) { return b == 0; });
    a.fresh = !owedEarlier || (!query && value == a.asked);
    if (a.fresh)
        a.owed = 0;
}

// The options taken: binary both ways, no go-ahead, and the serial-port control on the
// client's side (the client WILL, the server DOes); everything else is declined. An answer
// goes only to a change, so that two sides never echo each other without end.
void Rfc2217Codec::negotiate(std::uint8_t verb, std::uint8_t option)
{
    const bool client = role_ == Role::Client;
    const bool ours = option == BINARY || option == SGA || (client && option == COM_PORT);
    const bool theirs = option == BINARY || option == SGA || (!client && option == COM_PORT);
    switch (verb) {
    case DO:
        if (!ours)
            reply({IAC, WONT, option});
        else if (!us_[option] && !std::exchange(askedUs_[option], false))
            reply({IAC, WILL, option});
        if (ours)
            us_[option] = true;
        break;
    case DONT:
        if (option == COM_PORT)
            comPortRefused_ = true;
        if (us_[option])
            reply({IAC, WONT, option});
        us_[option] = askedUs_[option] = false;
        break;
    case WILL:
        if (!theirs)
            reply({IAC, DONT, option});
        else if (!him_[option] && !std::exchange(askedHim_[option], false))
            reply({IAC, DO, option});
        if (theirs)
            him_[option] = true;
        break;
    case WONT:
        if (him_[option])
            reply({IAC, DONT, option});
        him_[option] = askedHim_[option] = false;
        break;
    default:
        break;
    }
}

}  // namespace platform::win::detail
