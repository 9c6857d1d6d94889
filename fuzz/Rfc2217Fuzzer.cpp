// The network port's parser fed what a device server may send. The bytes
// (all but the last two, which choose how they are cut and how a peer
// negotiates) are the server's side of a connection:
//  - through the codec, cut into chunks: every cut gives the same data,
//    sub-negotiations, option changes and answers as the whole at once, and
//    an option we never accept never ends up on;
//  - between two codecs: whatever each side asks for and accepts, the
//    negotiation settles within a few exchanges;
//  - through the client port over a loopback connection whose server sends
//    exactly these bytes and hangs up: the port either refuses or opens,
//    hands over exactly the data the codec finds (IAC doubling undone) and
//    reports DSR from the last modem state report; it never hangs.

#include "FuzzSupport.h"

#include "platform/Rfc2217Codec.h"
#include "platform/SerialPort.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint8_t kClientOptions[] = {telnet::kOptionBinary, telnet::kOptionSuppressGoAhead, telnet::kOptionComPort};

// The codec as the client port sets it up before the first byte comes.
void SetUpAsClient(TelnetCodec& codec)
{
    for (uint8_t option : kClientOptions) {
        codec.Accept(option, true, true);
        codec.Accept(option, false, true);
    }
    codec.Request(telnet::kOptionBinary, true, true);
    codec.Request(telnet::kOptionBinary, false, true);
    codec.Request(telnet::kOptionSuppressGoAhead, true, true);
    codec.Request(telnet::kOptionSuppressGoAhead, false, true);
    codec.Request(telnet::kOptionComPort, true, true);
}

// Events with neighbouring data joined: where a cut falls decides only how
// the data is split.
void Append(std::vector<TelnetEvent>& into, std::vector<TelnetEvent> events)
{
    for (TelnetEvent& event : events) {
        if (event.kind == TelnetEvent::evData && !into.empty() && into.back().kind == TelnetEvent::evData)
            into.back().bytes.insert(into.back().bytes.end(), event.bytes.begin(), event.bytes.end());
        else
            into.push_back(std::move(event));
    }
}

bool Same(const TelnetEvent& a, const TelnetEvent& b)
{
    return a.kind == b.kind && a.option == b.option && a.local == b.local && a.enabled == b.enabled && a.bytes == b.bytes;
}

struct Decoded {
    Bytes data;
    int modemState = -1;
};

Decoded CheckCodec(const Bytes& stream, uint16_t key)
{
    TelnetCodec whole;
    SetUpAsClient(whole);
    whole.TakeOutput();
    std::vector<TelnetEvent> expected;
    Append(expected, whole.Feed(stream.data(), stream.size()));

    TelnetCodec cut;
    SetUpAsClient(cut);
    cut.TakeOutput();
    std::vector<TelnetEvent> got;
    uint32_t state = key | 1u;
    for (size_t at = 0; at < stream.size();) {
        state = state * 1103515245u + 12345u;
        const size_t piece = std::min<size_t>(stream.size() - at, 1 + (state >> 16) % 9);
        Append(got, cut.Feed(stream.data() + at, piece));
        at += piece;
    }
    FUZZ_CHECK(got.size() == expected.size());
    for (size_t i = 0; i < got.size(); ++i)
        FUZZ_CHECK(Same(got[i], expected[i]));
    FUZZ_CHECK(cut.TakeOutput() == whole.TakeOutput());

    for (int option = 0; option < 256; ++option) {
        bool accepted = false;
        for (uint8_t known : kClientOptions)
            accepted = accepted || option == known;
        if (!accepted)
            FUZZ_CHECK(!whole.Enabled(static_cast<uint8_t>(option), true) &&
                       !whole.Enabled(static_cast<uint8_t>(option), false));
    }

    Decoded decoded;
    for (const TelnetEvent& event : expected) {
        ComPortMessage message;
        if (event.kind == TelnetEvent::evData)
            decoded.data.insert(decoded.data.end(), event.bytes.begin(), event.bytes.end());
        else if (ParseComPortMessage(event, message) &&
                 message.command == rfc2217::kNotifyModemState + rfc2217::kServerOffset && !message.value.empty())
            decoded.modemState = message.value[0];
    }
    return decoded;
}

// A peer that accepts and asks for what `key` says, against the client.
void CheckNegotiationSettles(const Bytes& stream, uint16_t key)
{
    TelnetCodec client;
    SetUpAsClient(client);
    TelnetCodec server;
    const uint8_t options[] = {telnet::kOptionBinary, telnet::kOptionEcho, telnet::kOptionSuppressGoAhead,
                               telnet::kOptionComPort};
    for (int i = 0; i < 4; ++i) {
        server.Accept(options[i], true, (key >> i) & 1);
        server.Accept(options[i], false, (key >> (i + 4)) & 1);
        if ((key >> (i + 8)) & 1)
            server.Request(options[i], (key >> 12) & 1, true);
    }
    // Whatever the fuzzed stream did to the server first.
    server.Feed(stream.data(), std::min<size_t>(stream.size(), 64));
    server.TakeOutput();
    for (int round = 0; round < 16; ++round) {
        const Bytes toServer = client.TakeOutput();
        server.Feed(toServer.data(), toServer.size());
        const Bytes toClient = server.TakeOutput();
        client.Feed(toClient.data(), toClient.size());
        if (toServer.empty() && toClient.empty())
            return;
    }
    FUZZ_CHECK(false); // still negotiating after 16 exchanges
}

// --- The client port over a loopback connection ---------------------------

int ListeningSocket(uint16_t& port)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd, 4) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        std::perror("fuzz harness: loopback server");
        std::abort();
    }
    port = ntohs(address.sin_port);
    return fd;
}

// Accepts one connection, sends `stream`, hangs up its sending side and
// takes whatever the client says until the client closes.
void Serve(int listener, const Bytes& stream)
{
    pollfd waiting{listener, POLLIN, 0};
    if (poll(&waiting, 1, 10000) != 1) {
        std::fprintf(stderr, "fuzz harness: the port never connected\n");
        std::abort();
    }
    const int fd = accept(listener, nullptr, nullptr);
    if (fd < 0)
        return;
    for (size_t done = 0; done < stream.size();) {
        const ssize_t n = send(fd, stream.data() + done, stream.size() - done, MSG_NOSIGNAL);
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    shutdown(fd, SHUT_WR);
    uint8_t sink[4096];
    while (recv(fd, sink, sizeof sink, 0) > 0) {
    }
    close(fd);
}

void CheckPort(const Bytes& stream, const Decoded& decoded)
{
    static uint16_t port = 0;
    static const int listener = ListeningSocket(port);
    std::thread server(Serve, listener, std::cref(stream));

    std::unique_ptr<SerialPort> client = MakeRfc2217Port("rfc2217://fuzz", "127.0.0.1", port);
    if (client->Open() == 0) {
        Bytes data;
        uint8_t buffer[300];
        // The server has hung up: reads end in a failure once the data is
        // out, long before the time-out. (A read may come back empty early
        // when a signal ends its wait; libFuzzer's own timer sends some.)
        const auto start = std::chrono::steady_clock::now();
        for (;;) {
            const long n = client->Read(buffer, sizeof buffer, 5000);
            if (n < 0)
                break;
            FUZZ_CHECK(std::chrono::steady_clock::now() - start < std::chrono::seconds(5));
            data.insert(data.end(), buffer, buffer + n);
        }
        FUZZ_CHECK(data == decoded.data);
        bool dsr = false;
        FUZZ_CHECK(client->ReadDSR(dsr) == (decoded.modemState >= 0));
        FUZZ_CHECK(dsr == (decoded.modemState >= 0 && (decoded.modemState & rfc2217::kModemDsr) != 0));
        FUZZ_CHECK(client->InputWaiting() < 0);
    }
    client->Close();
    server.join();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const size_t streamSize = size >= 2 ? size - 2 : 0;
    const auto key = static_cast<uint16_t>(size >= 2 ? data[size - 2] * 256 + data[size - 1] : 0);
    const Bytes stream(data, data + streamSize);
    const Decoded decoded = CheckCodec(stream, key);
    CheckNegotiationSettles(stream, key);
    CheckPort(stream, decoded);
    return 0;
}
