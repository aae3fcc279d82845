// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The client side of Telnet with the COM-PORT-OPTION (RFC 854, 856, 2217) as bytes in and
// bytes out: what the server sent is split into line data, option negotiation and the
// server's answers; what the client must send (negotiation replies, requests) waits in
// Output(). No sockets, no clocks: the network device feeds it and sends what it leaves.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform::win::detail {

namespace telnet {
constexpr std::uint8_t IAC = 255;
constexpr std::uint8_t DONT = 254;
constexpr std::uint8_t DO = 253;
constexpr std::uint8_t WONT = 252;
constexpr std::uint8_t WILL = 251;
constexpr std::uint8_t SB = 250;
constexpr std::uint8_t SE = 240;
constexpr std::uint8_t BINARY = 0;
constexpr std::uint8_t SGA = 3;
constexpr std::uint8_t COM_PORT = 44;

// COM-PORT-OPTION commands; the server answers each with its code plus kAnswerOffset.
constexpr std::uint8_t SET_BAUDRATE = 1;
constexpr std::uint8_t SET_DATASIZE = 2;
constexpr std::uint8_t SET_PARITY = 3;
constexpr std::uint8_t SET_STOPSIZE = 4;
constexpr std::uint8_t SET_CONTROL = 5;
constexpr std::uint8_t PURGE_DATA = 12;
constexpr std::uint8_t kAnswerOffset = 100;

constexpr std::uint8_t FLOW_NONE = 1;
constexpr std::uint8_t FLOW_XONXOFF = 2;
constexpr std::uint8_t FLOW_HARDWARE = 3;
constexpr std::uint8_t DTR_ON = 8;
constexpr std::uint8_t DTR_OFF = 9;
constexpr std::uint8_t RTS_ON = 11;
constexpr std::uint8_t RTS_OFF = 12;
constexpr std::uint8_t PURGE_RECEIVED = 1;
constexpr std::uint8_t PURGE_TRANSMIT = 2;
}  // namespace telnet

class Rfc2217Codec {
public:
    using Bytes = std::vector<std::uint8_t>;

    // Decodes what the server sent.
    void Feed(const std::uint8_t* bytes, std::size_t count);

    // Line data received and not yet taken.
    std::size_t DataSize() const { return data_.size() - head_; }
    std::size_t TakeData(std::uint8_t* out, std::size_t count);
    void DropData();
    // The data as text, for what a server says before it hangs up.
    std::string DataText() const;

    // Bytes to send, in order; the caller takes them out as the socket accepts them.
    Bytes& Output() { return output_; }

    // Offers binary both ways and the serial-port control.
    void Offer();
    // A COM-PORT sub-negotiation; its earlier answer is forgotten.
    void Request(std::uint8_t code, const Bytes& value);
    static Bytes Value32(std::uint32_t v);

    bool Answered(std::uint8_t code) const;
    const Bytes& Answer(std::uint8_t code) const { return *answers_[code]; }
    std::uint32_t Answer32(std::uint8_t code) const;
    // The server said DONT COM-PORT: a Telnet server without the serial-port control.
    bool ComPortRefused() const { return comPortRefused_; }

    // Data bytes with 0xFF doubled, appended to out.
    static void Escape(const std::uint8_t* bytes, std::size_t count, Bytes& out);

private:
    void decode(std::uint8_t b);
    void subnegotiation();
    void negotiate(std::uint8_t verb, std::uint8_t option);
    void send(std::initializer_list<std::uint8_t> bytes);

    enum class Rx { Data, Command, Option, Sub, SubCommand };
    static constexpr std::size_t kMaxSubnegotiation = 64;

    Rx rx_ = Rx::Data;
    std::uint8_t verb_ = 0;
    Bytes sub_;
    std::array<bool, 256> us_{}, him_{}, askedUs_{}, askedHim_{};
    std::array<std::optional<Bytes>, 16> answers_;
    bool comPortRefused_ = false;
    Bytes data_;  // received, not yet taken from head_ on
    std::size_t head_ = 0;
    Bytes output_;
};

}  // namespace platform::win::detail
