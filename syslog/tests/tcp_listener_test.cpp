// The TCP input driven through the exported interface, with real connections on loopback: whole
// messages in each connection's order, the limits, flow control, pause and stop, and IPv6.
#include <gtest/gtest.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "OVSyslog.h"
#include "ovtest/wait_until.h"

namespace {

constexpr auto kWait = std::chrono::seconds(20);
constexpr auto kLongWait = std::chrono::seconds(180);  // a flood's worth of callbacks under Wine
constexpr DWORD kHoldLimitMs = 120000;

struct Seen {
    std::string host;
    std::string text;
};

std::mutex g_mutex;
std::vector<Seen> g_seen;  // in each sender's delivery order
std::vector<std::string> g_log;
HANDLE g_gate = nullptr;  // when set, callbacks wait on it: fills the lanes

void Record(void* context) {
    std::unique_ptr<Seen> seen(static_cast<Seen*>(context));
    std::lock_guard<std::mutex> lock(g_mutex);
    g_seen.push_back(*seen);
}

// Records in the step that follows the same sender's earlier ones, as delivery does.
unsigned int Collect(CSyslogMinitor* message) {
    if (g_gate != nullptr) WaitForSingleObject(g_gate, kHoldLimitMs);
    char* host = message->getHost();
    char* text = message->getMessage();
    CSyslogMinitor::deliverInTurn(Record, new Seen{host, text});
    std::free(host);
    std::free(text);
    delete message;
    return 0;
}

void CollectLine(const char* line) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_log.emplace_back(line);
}

std::size_t SeenCount() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_seen.size();
}

std::size_t LogCount() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_log.size();
}

bool Saw(const std::string& prefix) {
    std::lock_guard<std::mutex> lock(g_mutex);
    for (const Seen& s : g_seen)
        if (s.text.compare(0, prefix.size(), prefix) == 0) return true;
    return false;
}

SyslogTcpCounters Counters() {
    SyslogTcpCounters c = {};
    CSyslogTcp::getCounters(&c);
    return c;
}

class Socket {
public:
    Socket(int family, int type) : s_(socket(family, type, 0)), family_(family) {}
    ~Socket() { Close(); }
    void Close() {
        if (s_ != INVALID_SOCKET) closesocket(s_);
        s_ = INVALID_SOCKET;
    }
    SOCKET get() const { return s_; }
    // Loopback of the socket's family.
    int Address(int port, sockaddr_storage* a) const {
        *a = {};
        if (family_ == AF_INET6) {
            auto* in6 = reinterpret_cast<sockaddr_in6*>(a);
            in6->sin6_family = AF_INET6;
            in6->sin6_addr = in6addr_loopback;
            in6->sin6_port = htons(static_cast<u_short>(port));
            return sizeof *in6;
        }
        auto* in4 = reinterpret_cast<sockaddr_in*>(a);
        in4->sin_family = AF_INET;
        in4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        in4->sin_port = htons(static_cast<u_short>(port));
        return sizeof *in4;
    }
    bool Bind(int port) {
        sockaddr_storage a;
        int n = Address(port, &a);
        return bind(s_, reinterpret_cast<sockaddr*>(&a), n) == 0;
    }
    bool Connect(int port) {
        sockaddr_storage a;
        int n = Address(port, &a);
        return connect(s_, reinterpret_cast<sockaddr*>(&a), n) == 0;
    }
    bool Send(const std::string& data) {
        for (std::size_t at = 0; at < data.size();) {
            int n = send(s_, data.data() + at, static_cast<int>(data.size() - at), 0);
            if (n <= 0) return false;
            at += static_cast<std::size_t>(n);
        }
        return true;
    }
    void SendTo(int port, const std::string& data) {
        sockaddr_storage a;
        int n = Address(port, &a);
        sendto(s_, data.data(), static_cast<int>(data.size()), 0, reinterpret_cast<sockaddr*>(&a), n);
    }
    int LocalPort() const {
        sockaddr_storage a = {};
        int n = sizeof a;
        getsockname(s_, reinterpret_cast<sockaddr*>(&a), &n);
        return ntohs(reinterpret_cast<sockaddr_in*>(&a)->sin_port);
    }
    // True once the peer has closed the connection (a read gives 0 or an error), within limitMs.
    bool ClosedByPeer(DWORD limitMs) {
        DWORD timeout = limitMs;
        setsockopt(s_, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
        char c;
        int n = recv(s_, &c, 1, 0);
        return n == 0 || (n < 0 && WSAGetLastError() != WSAETIMEDOUT);
    }

private:
    SOCKET s_;
    int family_;
};

int FreePort(int type) {
    Socket probe(AF_INET, type);
    probe.Bind(0);
    return probe.LocalPort();
}

// Runs accept with UDP and TCP on free ports for the life of the object.
class Loop {
public:
    Loop(unsigned maxConnections = 200, unsigned idleSeconds = 600) {
        udp = FreePort(SOCK_DGRAM);
        tcp = FreePort(SOCK_STREAM);
        CSyslogMinitor::setRadiusPort(udp);
        CSyslogTcp::setPort(tcp);
        CSyslogTcp::setLimits(maxConnections, idleSeconds);
        thread_ = std::thread([this] { result_ = CSyslogMinitor::accept(Collect); });
    }
    ~Loop() {
        if (thread_.joinable()) Stop();
    }
    int Stop() {
        CSyslogMinitor::stopTrap();
        thread_.join();
        return result_;
    }
    int udp = 0;
    int tcp = 0;

private:
    std::thread thread_;
    int result_ = -1;
};

class TcpInput : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        CSyslogTcp::setLogWriter(CollectLine);
    }
    void SetUp() override {
        std::lock_guard<std::mutex> lock(g_mutex);
        g_seen.clear();
        g_log.clear();
    }
    void TearDown() override { CSyslogTcp::setPort(0); }
    static void WaitListening() {
        ASSERT_TRUE(ovtest::WaitUntil([] { return CSyslogMinitor::isListening(); }, kWait));
    }
    // Each sender's texts "tag n" for n from 0 came in order, count of them.
    static void ExpectInOrder(const std::string& tag, int count) {
        std::lock_guard<std::mutex> lock(g_mutex);
        int next = 0;
        for (const Seen& s : g_seen) {
            if (s.text.compare(0, tag.size() + 1, tag + " ") != 0) continue;
            ASSERT_EQ(s.text, tag + " " + std::to_string(next)) << "out of order, twice or lost";
            ++next;
        }
        EXPECT_EQ(next, count) << tag;
    }
};

// More connections than select's 64 at once, both framings mixed and split across sends.
TEST_F(TcpInput, ManyConnectionsEachDeliverWholeMessagesInOrder) {
    Loop loop;
    WaitListening();
    constexpr int kConnections = 70, kMessages = 30;
    std::vector<std::unique_ptr<Socket>> senders;
    for (int c = 0; c < kConnections; ++c) {
        senders.push_back(std::make_unique<Socket>(AF_INET, SOCK_STREAM));
        ASSERT_TRUE(senders.back()->Connect(loop.tcp)) << "connection " << c;
    }
    std::string streams[kConnections];
    for (int c = 0; c < kConnections; ++c)
        for (int n = 0; n < kMessages; ++n) {
            std::string text = "<13>c" + std::to_string(c) + " " + std::to_string(n);
            if ((c + n) % 3 == 0)
                streams[c] += std::to_string(text.size()) + " " + text;
            else
                streams[c] += text + ((c + n) % 3 == 1 ? "\n" : std::string(1, '\0'));
        }
    // Pieces of 7 bytes, connection after connection, so that frames straddle every read.
    std::size_t longest = 0;
    for (const std::string& s : streams) longest = std::max(longest, s.size());
    for (std::size_t at = 0; at < longest; at += 7)
        for (int c = 0; c < kConnections; ++c)
            if (at < streams[c].size()) ASSERT_TRUE(senders[c]->Send(streams[c].substr(at, 7)));
    ASSERT_TRUE(ovtest::WaitUntil([&] { return SeenCount() >= kConnections * kMessages; }, kLongWait))
        << SeenCount() << " seen, " << Counters().accepted << " accepted, " << Counters().bytes << " bytes, "
        << Counters().framingErrors << " framing errors";
    for (int c = 0; c < kConnections; ++c) ExpectInOrder("c" + std::to_string(c), kMessages);
    EXPECT_EQ(g_seen.front().host, "127.0.0.1");
    EXPECT_GE(Counters().connections, static_cast<unsigned long long>(kConnections));
}

// A bad length field, garbage, a huge length and a reset each harm only their own connection.
TEST_F(TcpInput, BadInputHarmsOnlyItsOwnConnection) {
    Loop loop;
    WaitListening();
    SyslogTcpCounters before = Counters();
    Socket good(AF_INET, SOCK_STREAM), badLength(AF_INET, SOCK_STREAM), huge(AF_INET, SOCK_STREAM),
        garbage(AF_INET, SOCK_STREAM);
    for (Socket* s : {&good, &badLength, &huge, &garbage}) ASSERT_TRUE(s->Connect(loop.tcp));
    ASSERT_TRUE(good.Send("<13>good 0\n"));
    ASSERT_TRUE(badLength.Send("12x <13>never\n"));
    EXPECT_TRUE(badLength.ClosedByPeer(20000)) << "a length that is no number closes the connection";
    ASSERT_TRUE(huge.Send("1000000000000 <13>huge " + std::string(5000, 'x')));
    ASSERT_TRUE(garbage.Send(std::string("\x01\x02garbage", 9) + "\n<13>garbage after\n"));
    {
        // A frame cut by a reset: linger 0 makes the close a reset.
        Socket reset(AF_INET, SOCK_STREAM);
        ASSERT_TRUE(reset.Connect(loop.tcp));
        ASSERT_TRUE(reset.Send("40 <13>cut"));
        linger hard = {1, 0};
        setsockopt(reset.get(), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&hard), sizeof hard);
    }
    ASSERT_TRUE(good.Send("<13>good 1\n"));
    ASSERT_TRUE(
        ovtest::WaitUntil([] { return Saw("good 1") && Saw("garbage after") && Saw("huge"); }, kWait));
    ExpectInOrder("good", 2);
    // The frame cut by the reset counts only when its bytes were read before the reset came.
    ASSERT_TRUE(
        ovtest::WaitUntil([&] { return Counters().framingErrors >= before.framingErrors + 2; }, kWait))
        << "the bad length and the huge frame are counted";
    std::lock_guard<std::mutex> lock(g_mutex);
    ASSERT_EQ(g_log.size(), 1u);
    EXPECT_NE(g_log[0].find("127.0.0.1"), std::string::npos) << g_log[0];
}

TEST_F(TcpInput, ConnectionsBeyondTheLimitAreClosedWithOneLine) {
    Loop loop(3);
    WaitListening();
    SyslogTcpCounters before = Counters();
    std::vector<std::unique_ptr<Socket>> sockets;
    for (int i = 0; i < 12; ++i) {
        sockets.push_back(std::make_unique<Socket>(AF_INET, SOCK_STREAM));
        ASSERT_TRUE(sockets.back()->Connect(loop.tcp));
    }
    ASSERT_TRUE(ovtest::WaitUntil([&] { return Counters().refused >= before.refused + 9; }, kWait));
    // The refused ones were closed before they were counted; the kept ones stay open.
    std::vector<Socket*> kept;
    for (auto& s : sockets)
        if (!s->ClosedByPeer(500)) kept.push_back(s.get());
    ASSERT_EQ(kept.size(), 3u);
    EXPECT_EQ(LogCount(), 1u) << "one line for the episode";
    for (std::size_t i = 0; i < kept.size(); ++i)
        ASSERT_TRUE(kept[i]->Send("<13>kept" + std::to_string(i) + " 0\n"));
    EXPECT_TRUE(ovtest::WaitUntil([] { return SeenCount() == 3; }, kWait)) << "the kept connections deliver";
}

TEST_F(TcpInput, IdleConnectionsAreClosedByTheLimit) {
    Loop loop(200, 1);
    WaitListening();
    Socket silent(AF_INET, SOCK_STREAM), trickle(AF_INET, SOCK_STREAM);
    ASSERT_TRUE(silent.Connect(loop.tcp));
    ASSERT_TRUE(trickle.Connect(loop.tcp));
    // A byte every 200 ms never makes a message: that is no reason to stay.
    std::atomic<bool> trickling{true};
    std::thread bytes([&] {
        for (int i = 0; i < 100 && trickling; ++i) {
            if (!trickle.Send("x")) break;
            Sleep(200);  // the trickle is the point: a byte, then a pause
        }
    });
    EXPECT_TRUE(silent.ClosedByPeer(20000));
    EXPECT_TRUE(trickle.ClosedByPeer(20000));
    trickling = false;
    bytes.join();
}

TEST_F(TcpInput, PauseReadsNothingUntilTheContinueAndStopClosesEverything) {
    Loop loop;
    WaitListening();
    Socket sender(AF_INET, SOCK_STREAM);
    ASSERT_TRUE(sender.Connect(loop.tcp));
    ASSERT_TRUE(sender.Send("<13>p 0\n"));
    ASSERT_TRUE(ovtest::WaitUntil([] { return SeenCount() == 1; }, kWait));

    CSyslogMinitor::pauseTrap();
    ASSERT_TRUE(ovtest::WaitUntil([] { return CSyslogMinitor::isPaused(); }, kWait));
    ASSERT_TRUE(sender.Send("<13>p 1\n"));
    Sleep(1000);  // long enough for a read that should not happen
    EXPECT_EQ(SeenCount(), 1u) << "read while paused";
    CSyslogMinitor::continueTrap();
    ASSERT_TRUE(ovtest::WaitUntil([] { return SeenCount() == 2; }, kWait));
    ExpectInOrder("p", 2);

    int port = loop.tcp;
    EXPECT_EQ(loop.Stop(), SYSLOG_OK);
    EXPECT_TRUE(sender.ClosedByPeer(5000)) << "a stop closes every connection";
    EXPECT_EQ(Counters().connections, 0u);
    Socket again(AF_INET, SOCK_STREAM);
    EXPECT_TRUE(again.Bind(port)) << "the port is free after the stop";
}

TEST_F(TcpInput, ATakenTcpPortStopsTheStartWithItsOwnCode) {
    Socket holder(AF_INET, SOCK_STREAM);
    ASSERT_TRUE(holder.Bind(0));
    ASSERT_EQ(listen(holder.get(), 1), 0);
    int udp = FreePort(SOCK_DGRAM);
    CSyslogMinitor::setRadiusPort(udp);
    CSyslogTcp::setPort(holder.LocalPort());
    EXPECT_EQ(CSyslogMinitor::accept(Collect), SYSLOG_E_TCPBIND);
    Socket again(AF_INET, SOCK_DGRAM);
    EXPECT_TRUE(again.Bind(udp)) << "the UDP port is let go too";
}

// The lanes full (every callback held): the sender waits instead of losing.
TEST_F(TcpInput, AFullBacklogSlowsTheSenderAndLosesNothing) {
    Loop loop;
    WaitListening();
    g_gate = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    constexpr int kMessages = 8000;  // beyond what the TCP lanes hold
    Socket sender(AF_INET, SOCK_STREAM);
    ASSERT_TRUE(sender.Connect(loop.tcp));
    std::atomic<int> sent{0};
    std::thread flood([&] {
        std::string batch;
        for (int n = 0; n < kMessages; ++n) {
            batch += "<13>f " + std::to_string(n) + "\n";
            if (batch.size() > 8000 || n == kMessages - 1) {
                if (!sender.Send(batch)) break;
                batch.clear();
                sent = n + 1;
            }
        }
    });
    // The sender is held back while nothing is forwarded.
    // Reads stop a chunk's worth of frames short of the bound.
    bool heldBack = ovtest::WaitUntil([] { return Counters().heldPeak >= 4096 - 512; }, kLongWait);
    EXPECT_TRUE(heldBack);
    SetEvent(g_gate);
    flood.join();
    ASSERT_TRUE(ovtest::WaitUntil([] { return SeenCount() >= kMessages; }, kLongWait))
        << SeenCount() << " seen, " << sent << " sent, " << Counters().heldPeak << " held at most, pending "
        << CSyslogMinitor::getPendingCount();
    ExpectInOrder("f", kMessages);
    HANDLE gate = g_gate;
    g_gate = nullptr;
    CloseHandle(gate);
}

TEST_F(TcpInput, IPv6SendersOverUdpAndTcpAreShownByTheirAddress) {
    Socket probe(AF_INET6, SOCK_DGRAM);
    if (probe.get() == INVALID_SOCKET || !probe.Bind(0)) GTEST_SKIP() << "no IPv6 loopback here";
    Loop loop;
    WaitListening();
    Socket udp(AF_INET6, SOCK_DGRAM), tcp(AF_INET6, SOCK_STREAM), tcp4(AF_INET, SOCK_STREAM);
    ASSERT_TRUE(tcp.Connect(loop.tcp));
    ASSERT_TRUE(tcp4.Connect(loop.tcp));
    ASSERT_TRUE(tcp.Send("<13>v6tcp 0\n"));
    ASSERT_TRUE(tcp4.Send("<13>v4tcp 0\n"));
    ASSERT_TRUE(ovtest::WaitUntil(
        [&] {
            udp.SendTo(loop.udp, "<13>v6udp 0");
            Sleep(50);  // paces the resends: a datagram may be lost, the wait around it is bounded
            return SeenCount() >= 3;
        },
        kWait));
    std::lock_guard<std::mutex> lock(g_mutex);
    std::map<std::string, std::string> hosts;
    for (const Seen& s : g_seen) hosts[s.text.substr(0, 5)] = s.host;
    EXPECT_EQ(hosts["v6tcp"], "::1");
    EXPECT_EQ(hosts["v6udp"], "::1");
    EXPECT_EQ(hosts["v4tcp"], "127.0.0.1");
}

}  // namespace
