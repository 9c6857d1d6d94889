#include "platform/Rfc2217Codec.h"

#include <gtest/gtest.h>

namespace {

using Bytes = std::vector<uint8_t>;
using namespace telnet;

std::vector<TelnetEvent> Feed(TelnetCodec& codec, const Bytes& bytes) { return codec.Feed(bytes.data(), bytes.size()); }

Bytes DataOf(const std::vector<TelnetEvent>& events)
{
    Bytes data;
    for (const TelnetEvent& e : events)
        if (e.kind == TelnetEvent::evData)
            data.insert(data.end(), e.bytes.begin(), e.bytes.end());
    return data;
}

struct NegotiationCase {
    const char* name;
    std::function<void(TelnetCodec&)> setUp; // may request options; its output is dropped
    Bytes peer;                              // what the peer then sends
    Bytes answer;                            // what we send back
    int changes;                             // option change events
    std::function<bool(const TelnetCodec&)> holds;
};

TEST(Rfc2217CodecTest, NegotiationAnswersOnlyRealChanges)
{
    auto acceptAll = [](TelnetCodec& c) {
        for (uint8_t option : {kOptionBinary, kOptionSuppressGoAhead, kOptionComPort}) {
            c.Accept(option, true, true);
            c.Accept(option, false, true);
        }
    };
    const NegotiationCase cases[] = {
        {"the peer asks us for binary", acceptAll, {kIAC, kDO, kOptionBinary}, {kIAC, kWILL, kOptionBinary}, 1,
         [](const TelnetCodec& c) { return c.Enabled(kOptionBinary, true); }},
        {"the peer offers binary", acceptAll, {kIAC, kWILL, kOptionBinary}, {kIAC, kDO, kOptionBinary}, 1,
         [](const TelnetCodec& c) { return c.Enabled(kOptionBinary, false) && !c.Enabled(kOptionBinary, true); }},
        {"echo is refused", acceptAll, {kIAC, kWILL, kOptionEcho}, {kIAC, kDONT, kOptionEcho}, 0,
         [](const TelnetCodec& c) { return !c.Enabled(kOptionEcho, false); }},
        {"a request repeated once enabled is not answered",
         [&](TelnetCodec& c) {
             acceptAll(c);
             Feed(c, {kIAC, kDO, kOptionBinary});
         },
         {kIAC, kDO, kOptionBinary}, {}, 0, [](const TelnetCodec& c) { return c.Enabled(kOptionBinary, true); }},
        {"a refusal of what is off is not answered", acceptAll, {kIAC, kDONT, kOptionComPort}, {}, 0,
         [](const TelnetCodec& c) { return !c.Enabled(kOptionComPort, true); }},
        {"our request is confirmed",
         [&](TelnetCodec& c) {
             acceptAll(c);
             c.Request(kOptionComPort, true, true);
         },
         {kIAC, kDO, kOptionComPort}, {}, 1,
         [](const TelnetCodec& c) { return c.Enabled(kOptionComPort, true) && !c.Pending(kOptionComPort, true); }},
        {"our request is refused",
         [&](TelnetCodec& c) {
             acceptAll(c);
             c.Request(kOptionComPort, true, true);
         },
         {kIAC, kDONT, kOptionComPort}, {}, 0,
         [](const TelnetCodec& c) { return !c.Enabled(kOptionComPort, true) && !c.Pending(kOptionComPort, true); }},
        {"the peer switches an option off",
         [&](TelnetCodec& c) {
             acceptAll(c);
             Feed(c, {kIAC, kWILL, kOptionSuppressGoAhead});
         },
         {kIAC, kWONT, kOptionSuppressGoAhead}, {kIAC, kDONT, kOptionSuppressGoAhead}, 1,
         [](const TelnetCodec& c) { return !c.Enabled(kOptionSuppressGoAhead, false); }},
        {"negotiation in the middle of data", acceptAll, {0x41, kIAC, kDO, kOptionBinary, 0x42},
         {kIAC, kWILL, kOptionBinary}, 1, [](const TelnetCodec&) { return true; }},
    };
    for (const NegotiationCase& c : cases) {
        TelnetCodec codec;
        c.setUp(codec);
        codec.TakeOutput();
        std::vector<TelnetEvent> events = Feed(codec, c.peer);
        EXPECT_EQ(codec.TakeOutput(), c.answer) << c.name;
        int changes = 0;
        for (const TelnetEvent& e : events)
            changes += e.kind == TelnetEvent::evOptionChanged;
        EXPECT_EQ(changes, c.changes) << c.name;
        EXPECT_TRUE(c.holds(codec)) << c.name;
    }
}

TEST(Rfc2217CodecTest, TwoEndsSettleWithoutLooping)
{
    TelnetCodec client, server;
    for (uint8_t option : {kOptionBinary, kOptionSuppressGoAhead, kOptionComPort}) {
        client.Accept(option, true, true);
        client.Accept(option, false, true);
    }
    server.Accept(kOptionBinary, true, true);
    server.Accept(kOptionBinary, false, true);
    server.Accept(kOptionComPort, false, true);
    for (uint8_t option : {kOptionBinary, kOptionSuppressGoAhead, kOptionComPort})
        client.Request(option, true, true);
    client.Request(kOptionBinary, false, true);
    server.Request(kOptionBinary, true, true);
    server.Request(kOptionEcho, true, true); // the client will refuse it

    int rounds = 0;
    for (Bytes toServer = client.TakeOutput(), toClient = server.TakeOutput(); !toServer.empty() || !toClient.empty();
         toServer = client.TakeOutput(), toClient = server.TakeOutput()) {
        ASSERT_LT(++rounds, 10) << "negotiation must settle";
        Feed(server, toServer);
        Feed(client, toClient);
    }
    EXPECT_TRUE(client.Enabled(kOptionBinary, true) && client.Enabled(kOptionBinary, false));
    EXPECT_TRUE(client.Enabled(kOptionComPort, true));
    EXPECT_TRUE(server.Enabled(kOptionComPort, false));
    EXPECT_FALSE(client.Enabled(kOptionSuppressGoAhead, true)) << "the server refused it";
    EXPECT_FALSE(server.Enabled(kOptionEcho, true));
    for (uint8_t option : {kOptionBinary, kOptionSuppressGoAhead, kOptionComPort, kOptionEcho}) {
        EXPECT_FALSE(client.Pending(option, true) || client.Pending(option, false)) << int(option);
        EXPECT_FALSE(server.Pending(option, true) || server.Pending(option, false)) << int(option);
    }
}

struct StreamCase {
    const char* name;
    std::vector<Bytes> feeds; // the stream, cut where it is cut on the network
    Bytes data;
    std::vector<ComPortMessage> messages;
};

TEST(Rfc2217CodecTest, DataAndSubNegotiationsFromAnyCut)
{
    const std::vector<uint8_t> longSub = [] {
        Bytes b{kIAC, kSB, kOptionComPort, 107};
        b.resize(b.size() + 300, 0x20);
        b.insert(b.end(), {kIAC, kSE});
        return b;
    }();
    const StreamCase cases[] = {
        {"a doubled IAC is one data byte", {{0x41, kIAC, kIAC, 0x42}}, {0x41, 0xFF, 0x42}, {}},
        {"an IAC cut from its double", {{0x41, kIAC}, {kIAC, 0x42}}, {0x41, 0xFF, 0x42}, {}},
        {"a modem state report", {{kIAC, kSB, kOptionComPort, 107, 0x20, kIAC, kSE}}, {}, {{107, {0x20}}}},
        {"a report cut everywhere", {{kIAC}, {kSB, kOptionComPort}, {107}, {0x30, kIAC}, {kSE, 0x01}}, {0x01},
         {{107, {0x30}}}},
        {"a doubled IAC inside a value", {{kIAC, kSB, kOptionComPort, 101, 0, 0, kIAC, kIAC, kIAC, kSE}}, {},
         {{101, {0, 0, 0xFF}}}},
        {"an overlong sub-negotiation is dropped whole", {longSub, {0x55}}, {0x55}, {}},
        {"an IAC and no SE ends a sub-negotiation unreported",
         {{kIAC, kSB, kOptionComPort, 107, 0x20, kIAC, kNOP, 0x66}}, {0x66}, {}},
        {"an empty sub-negotiation is ignored", {{kIAC, kSB, kIAC, kSE, 0x67}}, {0x67}, {}},
        {"a stray SE is ignored", {{kIAC, kSE, 0x68}}, {0x68}, {}},
        {"another option's sub-negotiation is no COM port message",
         {{kIAC, kSB, 24, 1, kIAC, kSE, 0x69}}, {0x69}, {}},
    };
    for (const StreamCase& c : cases) {
        TelnetCodec codec;
        std::vector<TelnetEvent> events;
        for (const Bytes& feed : c.feeds)
            for (TelnetEvent& e : Feed(codec, feed))
                events.push_back(std::move(e));
        EXPECT_EQ(DataOf(events), c.data) << c.name;
        std::vector<ComPortMessage> messages;
        for (const TelnetEvent& e : events) {
            ComPortMessage m;
            if (ParseComPortMessage(e, m))
                messages.push_back(m);
        }
        ASSERT_EQ(messages.size(), c.messages.size()) << c.name;
        for (size_t i = 0; i < messages.size(); ++i) {
            EXPECT_EQ(messages[i].command, c.messages[i].command) << c.name;
            EXPECT_EQ(messages[i].value, c.messages[i].value) << c.name;
        }
    }
}

TEST(Rfc2217CodecTest, WhatWeSend)
{
    TelnetCodec codec;
    const Bytes data{0x00, 0xFF, 0x7E};
    codec.SendData(data.data(), data.size());
    EXPECT_EQ(codec.TakeOutput(), (Bytes{0x00, 0xFF, 0xFF, 0x7E}));
    codec.SendComPort(rfc2217::kSetBaudRate, BaudRateValue(28800));
    EXPECT_EQ(codec.TakeOutput(), (Bytes{kIAC, kSB, kOptionComPort, 1, 0x00, 0x00, 0x70, 0x80, kIAC, kSE}));
    codec.SendComPort(rfc2217::kSetBaudRate, BaudRateValue(0x00FF00FF));
    EXPECT_EQ(codec.TakeOutput(),
              (Bytes{kIAC, kSB, kOptionComPort, 1, 0x00, 0xFF, 0xFF, 0x00, 0xFF, 0xFF, kIAC, kSE}));
    uint32_t rate = 0;
    EXPECT_TRUE(BaudRateFromValue(BaudRateValue(115200), rate));
    EXPECT_EQ(rate, 115200u);
    EXPECT_FALSE(BaudRateFromValue({1, 2, 3}, rate));
    codec.Request(kOptionBinary, true, true);
    codec.Request(kOptionBinary, true, true);
    EXPECT_EQ(codec.TakeOutput(), (Bytes{kIAC, kWILL, kOptionBinary})) << "a pending request is not repeated";
}

} // namespace
