// SPDX-License-Identifier: GPL-3.0-or-later
// The Telnet / COM-PORT layer on its own: bytes from a server in, line data, answers and
// the client's replies out.

#include "platform/Rfc2217Codec.h"

#include <gtest/gtest.h>

using platform::win::detail::Rfc2217Codec;
using Bytes = Rfc2217Codec::Bytes;
using namespace platform::win::detail::telnet;

namespace {

constexpr std::uint8_t NOP = 241;

Bytes takeAll(Rfc2217Codec& c)
{
    Bytes out(c.DataSize());
    c.TakeData(out.data(), out.size());
    return out;
}

Bytes takeOutput(Rfc2217Codec& c)
{
    return std::exchange(c.Output(), {});
}

}  // namespace

// What a server sends, fed in one piece and byte by byte: the data the port reads, and what
// the client says back.
TEST(Rfc2217Codec, SplitsDataFromTelnet)
{
    const struct {
        const char* what;
        Bytes in;
        Bytes data;
        Bytes reply;
    } cases[] = {
        {"doubled 0xFF", {0x01, IAC, IAC, 0x02}, {0x01, 0xFF, 0x02}, {}},
        {"NOP among data", {0x01, IAC, NOP, 0x02}, {0x01, 0x02}, {}},
        {"notice of modem state", {0x01, IAC, SB, COM_PORT, 107, 0x00, IAC, SE, 0x02}, {0x01, 0x02}, {}},
        {"sub-negotiation ended by a command", {IAC, SB, COM_PORT, 107, 0x00, IAC, WILL, 1, 0x05}, {0x05}, {IAC, DONT, 1}},
        {"unknown offers declined", {IAC, WILL, 1, IAC, DO, 24}, {}, {IAC, DONT, 1, IAC, WONT, 24}},
        {"go-ahead suppression taken", {IAC, WILL, SGA, IAC, WILL, SGA}, {}, {IAC, DO, SGA}},
    };
    for (const auto& c : cases) {
        Rfc2217Codec whole, split;
        whole.Feed(c.in.data(), c.in.size());
        for (const std::uint8_t b : c.in)
            split.Feed(&b, 1);
        EXPECT_EQ(takeAll(whole), c.data) << c.what;
        EXPECT_EQ(takeOutput(whole), c.reply) << c.what;
        EXPECT_EQ(takeAll(split), c.data) << c.what;
    }
}

// The options the client offered are not offered again when the server agrees.
TEST(Rfc2217Codec, AnAgreedOfferIsNotRepeated)
{
    Rfc2217Codec c;
    c.Offer();
    EXPECT_EQ(takeOutput(c), (Bytes{IAC, WILL, BINARY, IAC, WILL, COM_PORT, IAC, DO, BINARY}));
    const Bytes agree{IAC, DO, BINARY, IAC, WILL, BINARY, IAC, DO, COM_PORT};
    c.Feed(agree.data(), agree.size());
    EXPECT_EQ(takeOutput(c), Bytes{});
    EXPECT_FALSE(c.ComPortRefused());
    const Bytes refuse{IAC, DONT, COM_PORT};
    c.Feed(refuse.data(), refuse.size());
    EXPECT_TRUE(c.ComPortRefused());
    EXPECT_EQ(takeOutput(c), (Bytes{IAC, WONT, COM_PORT}));
}

// A request with 0xFF in its value, and the server's answer with one.
TEST(Rfc2217Codec, RequestsAndAnswersEscapeTheirValues)
{
    Rfc2217Codec c;
    c.Request(SET_BAUDRATE, Rfc2217Codec::Value32(0x0001FFFF));
    EXPECT_EQ(takeOutput(c), (Bytes{IAC, SB, COM_PORT, SET_BAUDRATE, 0, 1, IAC, IAC, IAC, IAC, IAC, SE}));
    EXPECT_FALSE(c.Answered(SET_BAUDRATE));
    const Bytes answer{IAC, SB, COM_PORT, 101, 0, 1, IAC, IAC, IAC, IAC, IAC, SE};
    c.Feed(answer.data(), answer.size());
    ASSERT_TRUE(c.Answered(SET_BAUDRATE));
    EXPECT_EQ(c.Answer32(SET_BAUDRATE), 0x0001FFFFu);

    Bytes escaped;
    const Bytes data{0x00, 0xFF, 0x7F};
    Rfc2217Codec::Escape(data.data(), data.size(), escaped);
    EXPECT_EQ(escaped, (Bytes{0x00, 0xFF, 0xFF, 0x7F}));
}

// A late answer belongs to the request it answers, not to the next one.
TEST(Rfc2217Codec, ALateAnswerIsNotTheNextOnes)
{
    const Bytes at625000{IAC, SB, COM_PORT, 101, 0, 0x09, 0x89, 0x68, IAC, SE};
    const Bytes at115200{IAC, SB, COM_PORT, 101, 0, 1, 0xC2, 0, IAC, SE};
    Rfc2217Codec c;
    c.Request(SET_BAUDRATE, Rfc2217Codec::Value32(625000));  // left unanswered in time
    c.Request(SET_BAUDRATE, Rfc2217Codec::Value32(115200));
    c.Feed(at625000.data(), at625000.size());
    EXPECT_FALSE(c.Answered(SET_BAUDRATE));
    c.Feed(at115200.data(), at115200.size());
    ASSERT_TRUE(c.Answered(SET_BAUDRATE));
    EXPECT_EQ(c.Answer32(SET_BAUDRATE), 115200u);

    // A late answer that says what the latest request asked is that request's answer.
    c.Request(SET_BAUDRATE, Rfc2217Codec::Value32(625000));
    c.Request(SET_BAUDRATE, Rfc2217Codec::Value32(625000));
    c.Feed(at625000.data(), at625000.size());
    EXPECT_TRUE(c.Answered(SET_BAUDRATE));
}

// What a hostile server can make the codec keep: no more data than the buffer holds (the
// rest counted as an overrun), no more replies than a bound, a sub-negotiation cut short.
TEST(Rfc2217Codec, FloodsAreBounded)
{
    Rfc2217Codec c;
    c.SetCapacity(100);
    const Bytes data(1000, 0x55);
    c.Feed(data.data(), data.size());
    c.Feed(data.data(), data.size());
    EXPECT_EQ(c.DataSize(), 100u);
    EXPECT_EQ(c.Counters().overrun, 2u);
    Bytes some(40);
    c.TakeData(some.data(), some.size());
    c.Feed(data.data(), data.size());
    EXPECT_EQ(c.DataSize(), 100u);

    Bytes offers;
    for (int i = 0; i < 100000; ++i)
        offers.insert(offers.end(), {IAC, DO, BINARY, IAC, DONT, BINARY});
    c.Feed(offers.data(), offers.size());
    EXPECT_LE(c.Output().size(), 4096u + 3);

    c.DropData();
    Bytes endless{IAC, SB, COM_PORT};
    endless.resize(1 << 20, 0x41);
    c.Feed(endless.data(), endless.size());
    const Bytes after{IAC, SE, 0x01};
    c.Feed(after.data(), after.size());
    EXPECT_EQ(c.DataSize(), 1u);  // the byte after SE is data again
}

// Line errors and breaks the server notifies count as a driver counts them; a flow-control
// suspension holds the data until the server resumes.
TEST(Rfc2217Codec, LineStateAndFlowControlNotices)
{
    Rfc2217Codec c;
    const Bytes notices{IAC, SB, COM_PORT, 106, 0x08, IAC, SE,   // framing
                        IAC, SB, COM_PORT, 106, 0x14, IAC, SE,   // parity and break
                        IAC, SB, COM_PORT, 106, 0x61, IAC, SE,   // data ready, shift registers empty
                        IAC, SB, COM_PORT, 107, 0xB0, IAC, SE,   // modem lines
                        IAC, SB, COM_PORT, 108, IAC, SE};        // suspend
    c.Feed(notices.data(), notices.size());
    EXPECT_EQ(c.Counters().frame, 1u);
    EXPECT_EQ(c.Counters().parity, 1u);
    EXPECT_EQ(c.Counters().brk, 1u);
    EXPECT_EQ(c.Counters().overrun, 0u);
    EXPECT_TRUE(c.Suspended());
    const Bytes resume{IAC, SB, COM_PORT, 109, IAC, SE};
    c.Feed(resume.data(), resume.size());
    EXPECT_FALSE(c.Suspended());
    EXPECT_EQ(c.DataSize(), 0u);
}

// A client's codec and a server's talking to each other: they agree on the serial-port
// control, the server hears each request once and the client takes its answer; data with
// 0xFF crosses both ways unchanged.
TEST(Rfc2217Codec, AServerCodecAnswersAClientCodec)
{
    Rfc2217Codec client, server(Rfc2217Codec::Role::Server);
    const auto pump = [&] {
        for (int i = 0; i < 4; ++i) {
            const Bytes toServer = takeOutput(client), toClient = takeOutput(server);
            server.Feed(toServer.data(), toServer.size());
            client.Feed(toClient.data(), toClient.size());
        }
    };
    client.Offer();
    server.Offer();
    pump();
    EXPECT_TRUE(client.Output().empty() && server.Output().empty());  // no echo without end
    EXPECT_TRUE(client.ComPortAgreed());
    EXPECT_TRUE(server.ComPortAgreed());
    EXPECT_FALSE(client.ComPortRefused());

    client.Request(SET_BAUDRATE, Rfc2217Codec::Value32(0x0009FF68));
    client.Request(SET_PARITY, {3});
    pump();
    const auto requests = server.TakeRequests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].code, SET_BAUDRATE);
    EXPECT_EQ(requests[0].value, (Bytes{0x00, 0x09, 0xFF, 0x68}));
    EXPECT_EQ(requests[1].code, SET_PARITY);
    EXPECT_FALSE(client.Answered(SET_BAUDRATE));
    server.AnswerRequest(SET_BAUDRATE, requests[0].value);
    server.AnswerRequest(SET_PARITY, {1});  // refused: no parity
    pump();
    EXPECT_TRUE(client.Answered(SET_BAUDRATE));
    EXPECT_EQ(client.Answer32(SET_BAUDRATE), 0x0009FF68u);
    EXPECT_EQ(client.Answer(SET_PARITY), Bytes{1});
    EXPECT_TRUE(server.TakeRequests().empty());

    const Bytes data{0x01, IAC, 0x02};
    Bytes wire;
    Rfc2217Codec::Escape(data.data(), data.size(), wire);
    server.Feed(wire.data(), wire.size());
    client.Feed(wire.data(), wire.size());
    EXPECT_EQ(takeAll(server), data);
    EXPECT_EQ(takeAll(client), data);
}
