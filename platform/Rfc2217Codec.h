// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Telnet with the COM-PORT-OPTION (RFC 854, 856, 2217) as bytes in and bytes out, for
// either side. A client's codec splits what the server sent into line data, option
// negotiation and the server's answers; a server's codec splits what the client sent into
// line data, negotiation and the client's requests. What must go back (negotiation
// replies, requests, answers) waits in Output(). No sockets, no clocks: the network device
// and the virtual receiver's network line feed it and send what it leaves.

#include "platform/CommDevice.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
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
constexpr std::uint8_t NOTIFY_LINESTATE = 6;
constexpr std::uint8_t NOTIFY_MODEMSTATE = 7;
constexpr std::uint8_t FLOWCONTROL_SUSPEND = 8;
constexpr std::uint8_t FLOWCONTROL_RESUME = 9;
constexpr std::uint8_t SET_LINESTATE_MASK = 10;
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

// Line-state bits of NOTIFY-LINESTATE.
constexpr std::uint8_t LINE_OVERRUN = 0x02;
constexpr std::uint8_t LINE_PARITY = 0x04;
constexpr std::uint8_t LINE_FRAMING = 0x08;
constexpr std::uint8_t LINE_BREAK = 0x10;
constexpr std::uint8_t LINE_ERRORS = LINE_OVERRUN | LINE_PARITY | LINE_FRAMING | LINE_BREAK;
}  // namespace telnet

class Rfc2217Codec {
public:
    using Bytes = std::vector<std::uint8_t>;
    enum class Role { Client, Server };

    explicit Rfc2217Codec(Role role = Role::Client) : role_(role) {}

    // Decodes what the server sent.
    void Feed(const std::uint8_t* bytes, std::size_t count);

    // The most line data kept untaken, as a driver's input buffer; what comes beyond it is
    // lost and counted as an overrun.
    void SetCapacity(std::size_t bytes) { capacity_ = bytes; }
    // Line data received and not yet taken.
    std::size_t DataSize() const { return data_.size() - head_; }
    std::size_t TakeData(std::uint8_t* out, std::size_t count);
    void DropData();
    // The data as text, for what a server says before it hangs up.
    std::string DataText() const;

    // Bytes to send, in order; the caller takes them out as the socket accepts them.
    Bytes& Output() { return output_; }

    // Offers binary both ways and the serial-port control (a client's WILL, a server's DO),
    // where not agreed already.
    void Offer();
    // The server said DO COM-PORT (or, to a server, the client said WILL COM-PORT):
    // sub-negotiations may follow.
    bool ComPortAgreed() const { return (role_ == Role::Client ? us_ : him_)[telnet::COM_PORT]; }
    // The server said DONT COM-PORT: a Telnet server without the serial-port control.
    bool ComPortRefused() const { return comPortRefused_; }

    // A COM-PORT sub-negotiation. Its answer is the next one for this code that is not
    // owed to an earlier request; an earlier answer that comes late is taken only when it
    // says what this request asked.
    void Request(std::uint8_t code, const Bytes& value);
    static Bytes Value32(std::uint32_t v);
    bool Answered(std::uint8_t code) const;
    const Bytes& Answer(std::uint8_t code) const { return answers_[code].value; }
    std::uint32_t Answer32(std::uint8_t code) const;

    // A server's side: a request the client sent (its code and value), oldest first; and
    // the answer to one, the value the port has now.
    struct ClientRequest {
        std::uint8_t code;
        Bytes value;
    };
    std::vector<ClientRequest> TakeRequests() { return std::exchange(requests_, {}); }
    void AnswerRequest(std::uint8_t code, const Bytes& value);

    // Line errors and breaks the server reported, and data lost to a full buffer.
    const LineCounters& Counters() const { return counters_; }
    // The server asked for no data until it resumes.
    bool Suspended() const { return suspended_; }

    // Data bytes with 0xFF doubled, appended to out.
    static void Escape(const std::uint8_t* bytes, std::size_t count, Bytes& out);

private:
    void decode(std::uint8_t b);
    void subnegotiation();
    void negotiate(std::uint8_t verb, std::uint8_t option);
    void reply(std::initializer_list<std::uint8_t> bytes);
    void subnegotiate(std::uint8_t code, const Bytes& value);
    void keep(std::uint8_t b);

    enum class Rx { Data, Command, Option, Sub, SubCommand };
    static constexpr std::size_t kMaxSubnegotiation = 64;
    // Negotiation replies waiting to go out; a server that floods negotiations while not
    // reading gets no more.
    static constexpr std::size_t kMaxOutput = 4096;
    // Requests not taken yet; a client that floods them loses the excess.
    static constexpr std::size_t kMaxRequests = 64;

    struct Reply {
        Bytes asked;
        Bytes value;
        unsigned owed = 0;    // requests sent and not answered yet
        bool fresh = false;   // value answers the latest request
    };

    Role role_;
    Rx rx_ = Rx::Data;
    std::uint8_t verb_ = 0;
    Bytes sub_;
    std::array<bool, 256> us_{}, him_{}, askedUs_{}, askedHim_{};
    std::array<Reply, 16> answers_;
    bool comPortRefused_ = false;
    bool suspended_ = false;
    LineCounters counters_;
    bool overran_ = false;  // since the last Feed
    std::size_t capacity_ = 4096;
    Bytes data_;  // received, not yet taken from head_ on
    std::size_t head_ = 0;
    Bytes output_;
    std::vector<ClientRequest> requests_;
};

}  // namespace platform::win::detail
