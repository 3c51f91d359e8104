// The receive loop driven through the exported interface, with real datagrams on loopback.
#include <gtest/gtest.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "OVSyslog.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Received {
    std::string host;
    std::string message;
};

// What the callbacks saw; the tests run one loop at a time.
std::mutex g_mutex;
std::vector<Received> g_received;
std::atomic<int> g_live{0};
std::atomic<int> g_peak{0};
HANDLE g_gate = nullptr;  // when set, callbacks wait on it: holds datagram threads alive
std::atomic<int> g_threadsStarted{0};

// Every thread the process starts passes through here, the loop's datagram threads included.
void NTAPI CountThreads(PVOID, DWORD reason, PVOID) {
    if (reason == DLL_THREAD_ATTACH) ++g_threadsStarted;
}
extern "C" __attribute__((section(".CRT$XLB"), used)) const PIMAGE_TLS_CALLBACK g_countThreads = CountThreads;

unsigned int Collect(CSyslogMinitor* message) {
    int live = ++g_live;
    for (int peak = g_peak; live > peak && !g_peak.compare_exchange_weak(peak, live);) {
    }
    if (g_gate != nullptr) WaitForSingleObject(g_gate, INFINITE);
    char* host = message->getHost();
    char* text = message->getMessage();
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        g_received.push_back({host, text});
    }
    std::free(host);
    std::free(text);
    delete message;
    --g_live;
    return 0;
}

std::size_t ReceivedCount() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_received.size();
}

bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 10000) {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (Clock::now() > deadline) return false;
        Sleep(10);
    }
    return true;
}

class Socket {
public:
    Socket() : s_(socket(AF_INET, SOCK_DGRAM, 0)) {}
    ~Socket() { closesocket(s_); }
    SOCKET get() const { return s_; }
    bool Bind(int port) {
        sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<u_short>(port));
        return bind(s_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    int LocalPort() {
        sockaddr_in a = {};
        int n = sizeof a;
        getsockname(s_, reinterpret_cast<sockaddr*>(&a), &n);
        return ntohs(a.sin_port);
    }
    void SendTo(int port, const std::string& payload) {
        sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<u_short>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        sendto(s_, payload.data(), static_cast<int>(payload.size()), 0, reinterpret_cast<sockaddr*>(&a),
               sizeof a);
    }

private:
    SOCKET s_;
};

int FreePort() {
    Socket probe;
    probe.Bind(0);
    return probe.LocalPort();
}

bool PortIsFree(int port) {
    Socket probe;
    return probe.Bind(port);
}

// Runs accept on a thread of its own for the life of the object.
class Loop {
public:
    explicit Loop(int port) {
        CSyslogMinitor::setRadiusPort(port);
        thread_ = std::thread([this] { result_ = CSyslogMinitor::accept(Collect); done_ = true; });
    }
    ~Loop() {
        if (thread_.joinable()) Stop();
    }
    int Stop() {
        CSyslogMinitor::stopTrap();
        thread_.join();
        return result_;
    }
    bool done() const { return done_; }

private:
    std::thread thread_;
    std::atomic<bool> done_{false};
    int result_ = -1;
};

class ReceiveLoop : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
    }
    void SetUp() override {
        g_received.clear();
        g_live = 0;
        g_peak = 0;
        g_gate = nullptr;
    }
    // The loop opens its socket on its own thread: a marker datagram that arrives proves it is up.
    static void WaitForLoop(Socket& sender, int port) {
        ASSERT_TRUE(WaitUntil([&] {
            sender.SendTo(port, "<13> ready");
            Sleep(50);
            return ReceivedCount() > 0;
        })) << "the loop never received on port " << port;
        ASSERT_TRUE(WaitUntil([] { return g_live == 0; }));
        Sleep(100);
        std::lock_guard<std::mutex> lock(g_mutex);
        g_received.clear();
    }
};

TEST_F(ReceiveLoop, StopIsNoticedWithinOneWaitAndClosesTheSocket) {
    int port = FreePort();
    Loop loop(port);
    Socket sender;
    WaitForLoop(sender, port);

    auto asked = Clock::now();
    EXPECT_EQ(loop.Stop(), SYSLOG_OK);
    auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - asked).count();
    EXPECT_LE(took, 2600) << "a stop must be noticed after at most one 2000 ms wait";
    EXPECT_TRUE(PortIsFree(port)) << "the socket stayed open after the stop";
}

TEST_F(ReceiveLoop, TakenPortGivesTheBindCodeAndReceivesNothing) {
    Socket holder;
    ASSERT_TRUE(holder.Bind(0));
    CSyslogMinitor::setRadiusPort(holder.LocalPort());
    EXPECT_EQ(CSyslogMinitor::accept(Collect), SYSLOG_E_BIND);
    EXPECT_EQ(ReceivedCount(), 0u);
}

TEST_F(ReceiveLoop, OnlyTheLow16BitsOfThePortReachTheSocket) {
    struct {
        int configured;
        int bound;
    } cases[] = {{70000, 4464}, {-1, 65535}};
    for (const auto& c : cases) {
        if (!PortIsFree(c.bound)) {
            ADD_FAILURE() << "port " << c.bound << " is taken on this machine; cannot check " << c.configured;
            continue;
        }
        g_received.clear();
        Loop loop(c.configured);
        Socket sender;
        WaitForLoop(sender, c.bound);
        EXPECT_EQ(CSyslogMinitor::getRadiusPort(), c.configured);
        sender.SendTo(c.bound, "<13> via low bits");
        EXPECT_TRUE(WaitUntil([] { return ReceivedCount() == 1; })) << "configured " << c.configured;
        EXPECT_EQ(loop.Stop(), SYSLOG_OK);
    }
}

TEST_F(ReceiveLoop, HandsEachAcceptedDatagramOverOnceAndNoRefusedOne) {
    int port = FreePort();
    Loop loop(port);
    Socket sender;
    WaitForLoop(sender, port);

    const std::string refused[] = {"no bracket", "<1234567>too long a priority", ""};
    for (const auto& r : refused) sender.SendTo(port, r);
    sender.SendTo(port, "<13>Jan 12 10:00:00 myhost some text");
    sender.SendTo(port, "<13> from the sender");
    sender.SendTo(port, "<13> " + std::string(5000, 'x'));  // longer than the loop reads: cut

    ASSERT_TRUE(WaitUntil([] { return ReceivedCount() >= 3; }));
    Sleep(300);  // a refused datagram that slipped through would arrive by now
    std::lock_guard<std::mutex> lock(g_mutex);
    ASSERT_EQ(g_received.size(), 3u);
    auto find = [](const std::string& text) {
        int n = 0;
        for (const auto& r : g_received) n += r.message == text;
        return n;
    };
    EXPECT_EQ(find("some text"), 1);
    EXPECT_EQ(find("from the sender"), 1);
    EXPECT_EQ(find(std::string(511, 'x')), 1) << "the oversized datagram was dropped, not cut";
    for (const auto& r : g_received) {
        if (r.message == "some text") EXPECT_EQ(r.host, "myhost");
        else EXPECT_EQ(r.host, "127.0.0.1");
    }
}

TEST_F(ReceiveLoop, RunsDatagramsOnDatagramThreadsAndStartsNoneForAnEmptyOne) {
    int port = FreePort();
    Loop loop(port);
    Socket sender;
    WaitForLoop(sender, port);
    Sleep(1500);  // the marker's thread has ended its linger by now

    int before = g_threadsStarted;
    for (int i = 0; i < 20; ++i) sender.SendTo(port, "");
    Sleep(500);
    EXPECT_EQ(g_threadsStarted - before, 0) << "an empty datagram started a thread";

    for (int i = 0; i < 5; ++i) sender.SendTo(port, "<13> counted " + std::to_string(i));
    ASSERT_TRUE(WaitUntil([] { return ReceivedCount() == 5; }));
    int started = g_threadsStarted - before;
    EXPECT_GE(started, 1);
    EXPECT_LE(started, 5) << "more threads than datagrams";
}

TEST_F(ReceiveLoop, AThreadThatFinishedTakesTheNextDatagram) {
    int port = FreePort();
    Loop loop(port);
    Socket sender;
    WaitForLoop(sender, port);

    int before = g_threadsStarted;
    for (int i = 0; i < 10; ++i) {
        sender.SendTo(port, "<13> one at a time " + std::to_string(i));
        ASSERT_TRUE(WaitUntil([i] { return ReceivedCount() == static_cast<std::size_t>(i + 1) && g_live == 0; }));
        Sleep(20);
    }
    EXPECT_LE(g_threadsStarted - before, 1) << "datagrams spaced within the linger each started a thread";
}

TEST_F(ReceiveLoop, DatagramThreadsStayWithinTheirBoundUnderAFlood) {
    int port = FreePort();
    Loop loop(port);
    Socket sender;
    WaitForLoop(sender, port);

    g_gate = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    const int kFlood = 400;
    for (int i = 0; i < kFlood; ++i) sender.SendTo(port, "<13> flood " + std::to_string(i));

    EXPECT_TRUE(WaitUntil([] { return g_live >= 128; })) << "only " << g_live << " threads started";
    Sleep(500);  // give an unbounded loop the time to overshoot
    EXPECT_EQ(g_peak.load(), 128);

    SetEvent(g_gate);
    EXPECT_TRUE(WaitUntil([] { return ReceivedCount() == kFlood; }, 30000))
        << ReceivedCount() << " of " << kFlood << " arrived: the held datagrams were lost";
    EXPECT_EQ(loop.Stop(), SYSLOG_OK);
    CloseHandle(g_gate);
    g_gate = nullptr;
}

// The heap answers a size only for a block that is still allocated.
bool StillAllocated(void* block) { return _msize(block) != static_cast<std::size_t>(-1); }

// The callback owns the texts: deleting the object must leave both blocks allocated and intact.
unsigned int DeleteFirst(CSyslogMinitor* message) {
    char* host = message->getHost();
    char* text = message->getMessage();
    delete message;
    bool freed = !StillAllocated(host) || !StillAllocated(text);
    std::lock_guard<std::mutex> lock(g_mutex);
    g_received.push_back({freed ? "freed by the delete" : host, freed ? "" : text});
    std::free(host);
    std::free(text);
    return 0;
}

TEST_F(ReceiveLoop, DeletingTheMessageLeavesItsTextsToTheCallback) {
    int port = FreePort();
    CSyslogMinitor::setRadiusPort(port);
    std::thread loop([] { CSyslogMinitor::accept(DeleteFirst); });
    Socket sender;
    ASSERT_TRUE(WaitUntil([&] {
        sender.SendTo(port, "<13>Jan 12 10:00:00 owner kept");
        Sleep(50);
        return ReceivedCount() > 0;
    }));
    CSyslogMinitor::stopTrap();
    loop.join();
    std::lock_guard<std::mutex> lock(g_mutex);
    EXPECT_EQ(g_received[0].host, "owner");
    EXPECT_EQ(g_received[0].message, "kept");
}

}  // namespace
