// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Rfc2217Codec.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace platform::win::detail {

using namespace telnet;

void Rfc2217Codec::Feed(const std::uint8_t* bytes, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i)
        decode(bytes[i]);
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
    askedUs_[BINARY] = askedUs_[COM_PORT] = askedHim_[BINARY] = true;
    send({IAC, WILL, BINARY, IAC, DO, BINARY, IAC, WILL, COM_PORT});
}

void Rfc2217Codec::Request(std::uint8_t code, const Bytes& value)
{
    answers_[code].reset();
    output_.insert(output_.end(), {IAC, SB, COM_PORT, code});
    Escape(value.data(), value.size(), output_);
    output_.insert(output_.end(), {IAC, SE});
}

Rfc2217Codec::Bytes Rfc2217Codec::Value32(std::uint32_t v)
{
    return {static_cast<std::uint8_t>(v >> 24), static_cast<std::uint8_t>(v >> 16),
            static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)};
}

bool Rfc2217Codec::Answered(std::uint8_t code) const
{
    return answers_[code].has_value() && !answers_[code]->empty();
}

std::uint32_t Rfc2217Codec::Answer32(std::uint8_t code) const
{
    const Bytes& v = *answers_[code];
    std::uint32_t x = 0;
    for (std::size_t i = 0; i < 4 && i < v.size(); ++i)
        x = (x << 8) | v[i];
    return x;
}

void Rfc2217Codec::Escape(const std::uint8_t* bytes, std::size_t count, Bytes& out)
{
    for (std::size_t i = 0; i < count; ++i) {
        out.push_back(bytes[i]);
        if (bytes[i] == IAC)
            out.push_back(IAC);
    }
}

void Rfc2217Codec::send(std::initializer_list<std::uint8_t> bytes)
{
    output_.insert(output_.end(), bytes);
}

void Rfc2217Codec::decode(std::uint8_t b)
{
    switch (rx_) {
    case Rx::Data:
        if (b == IAC)
            rx_ = Rx::Command;
        else
            data_.push_back(b);
        return;
    case Rx::Command:
        rx_ = Rx::Data;
        if (b == IAC) {
            data_.push_back(IAC);
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
    if (sub_.size() < 2 || sub_[0] != COM_PORT || sub_[1] < kAnswerOffset)
        return;  // notifications of modem and line state, among others
    const std::uint8_t code = sub_[1] - kAnswerOffset;
    if (code < answers_.size())
        answers_[code] = Bytes(sub_.begin() + 2, sub_.end());
}

// The options this client takes: binary both ways, the serial-port control for itself, and
// no go-ahead; everything else is declined. An answer goes only to a change, so that two
// sides never echo each other without end.
void Rfc2217Codec::negotiate(std::uint8_t verb, std::uint8_t option)
{
    const bool ours = option == BINARY || option == COM_PORT || option == SGA;
    const bool theirs = option == BINARY || option == SGA;
    switch (verb) {
    case DO:
        if (!ours)
            send({IAC, WONT, option});
        else if (!us_[option] && !std::exchange(askedUs_[option], false))
            send({IAC, WILL, option});
        if (ours)
            us_[option] = true;
        break;
    case DONT:
        if (option == COM_PORT)
            comPortRefused_ = true;
        if (us_[option])
            send({IAC, WONT, option});
        us_[option] = askedUs_[option] = false;
        break;
    case WILL:
        if (!theirs)
            send({IAC, DONT, option});
        else if (!him_[option] && !std::exchange(askedHim_[option], false))
            send({IAC, DO, option});
        if (theirs)
            him_[option] = true;
        break;
    case WONT:
        if (him_[option])
            send({IAC, DONT, option});
        him_[option] = askedHim_[option] = false;
        break;
    default:
        break;
    }
}

}  // namespace platform::win::detail
