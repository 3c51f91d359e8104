// The receive loop driven through the exported interface, with real datagrams on loopback.
#include <gtest/gtest.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "OVSyslog.h"
#include "datagram_threads.h"
#include "receive_loop.h"
#include "ovtest/wait_until.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Received {
    std::string host;
    std::string message;
};

// What the callbacks saw; the tests run one loop at a time.
std::mutex g_mutex;
std::vector<Received> g_received;
std::set<DWORD> g_callbackThreads;  // the datagram threads that ran a callback: Wine starts none of these
std::atomic<int> g_live{0};
std::atomic<int> g_peak{0};
HANDLE g_gate = nullptr;  // when set, callbacks wait on it: holds datagram threads alive
std::atomic<int> g_threadsStarted{0};
std::atomic<int> g_threadsEnded{0};

constexpr DWORD kHoldLimitMs = 120000;  // the longest a held callback waits for its release

// Every thread the process starts passes through here, the loop's datagram threads included.
void NTAPI CountThreads(PVOID, DWORD reason, PVOID) {
    if (reason == DLL_THREAD_ATTACH) ++g_threadsStarted;
    if (reason == DLL_THREAD_DETACH) ++g_threadsEnded;
}
extern "C" __attribute__((section(".CRT$XLB"), used)) const PIMAGE_TLS_CALLBACK g_countThreads = CountThreads;

unsigned int Collect(CSyslogMinitor* message) {
    int live = ++g_live;
    for (int peak = g_peak; live > peak && !g_peak.compare_exchange_weak(peak, live);) {
    }
    // Bounded, so that a test that fails before its release still ends.
    if (g_gate != nullptr) WaitForSingleObject(g_gate, kHoldLimitMs);
    char* host = message->getHost();
    char* text = message->getMessage();
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        g_received.push_back({host, text});
        g_callbackThreads.insert(GetCurrentThreadId());
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

// How long the loop and its threads get to reach what a test waits for.
constexpr auto kWait = std::chrono::seconds(10);
constexpr auto kLongWait = std::chrono::seconds(30);  // a flood's worth of callbacks

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
        thread_ = std::thread([this] {
            DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &handle_, 0, FALSE,
                            DUPLICATE_SAME_ACCESS);
            result_ = CSyslogMinitor::accept(Collect);
            done_ = true;
        });
    }
    ~Loop() {
        if (thread_.joinable()) Stop();
        if (handle_ != nullptr) CloseHandle(handle_);
    }
    // The loop's thread, for holding it still as the service's pause does; set before it reads.
    HANDLE handle() const { return handle_; }
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
    HANDLE handle_ = nullptr;
};

// Holds every callback at g_gate until Release or the end of the scope, so that an assertion that
// returns early never leaves datagram threads waiting for the rest of the run.
class HeldCallbacks {
public:
    HeldCallbacks() { g_gate = CreateEventA(nullptr, TRUE, FALSE, nullptr); }
    ~HeldCallbacks() {
        Release();
        HANDLE gate = g_gate;
        g_gate = nullptr;
        CloseHandle(gate);
    }
    HeldCallbacks(const HeldCallbacks&) = delete;
    HeldCallbacks& operator=(const HeldCallbacks&) = delete;
    void Release() { SetEvent(g_gate); }
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
        ASSERT_TRUE(ovtest::WaitUntil(
            [&] {
                sender.SendTo(port, "<13> ready");
                Sleep(50);  // paces the resends: a datagram may be lost, the wait around it is bounded
                return ReceivedCount() > 0;
            },
            kWait))
            << "the loop never received on port " << port;
        WaitAllHandled(sender, port);
        std::lock_guard<std::mutex> lock(g_mutex);
        g_received.clear();
        g_callbackThreads.clear();
    }
    // A last datagram from the same sender is read after every earlier one: once it has been
    // handled and nothing is pending, all of them have been through the callback.
    static void WaitAllHandled(Socket& sender, int port) {
        std::size_t before = ReceivedCount();
        sender.SendTo(port, "<13> last");
        ASSERT_TRUE(ovtest::WaitUntil(
            [&] { return ReceivedCount() > before && CSyslogMinitor::getPendingCount() == 0 && g_live == 0; },
            kWait));
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
    // The loop has just read the marker and waits afresh: without the wake-up the stop would take
    // the whole wait. Three quarters of it leave a loaded machine room and still catch that.
    EXPECT_LT(took, kReceiveWaitMs * 3 / 4) << "a stop must wake the loop at once, not after its wait";
    EXPECT_FALSE(CSyslogMinitor::isListening());
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
    std::string skipped;
    for (const auto& c : cases) {
        if (!PortIsFree(c.bound)) {
            skipped += " port " + std::to_string(c.bound) + " is taken on this machine, so " +
                       std::to_string(c.configured) + " cannot be checked;";
            continue;
        }
        g_received.clear();
        Loop loop(c.configured);
        Socket sender;
        WaitForLoop(sender, c.bound);
        EXPECT_EQ(CSyslogMinitor::getRadiusPort(), c.configured);
        sender.SendTo(c.bound, "<13> via low bits");
        EXPECT_TRUE(ovtest::WaitUntil([] { return ReceivedCount() == 1; }, kWait))
            << "configured " << c.configured;
        EXPECT_EQ(loop.Stop(), SYSLOG_OK);
    }
    if (!skipped.empty()) GTEST_SKIP() << skipped;
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

    ASSERT_TRUE(ovtest::WaitUntil([] { return ReceivedCount() >= 3; }, kWait));
    WaitAllHandled(sender, port);
    std::lock_guard<std::mutex> lock(g_mutex);
    ASSERT_EQ(g_received.size(), 4u) << "three and the last";
    auto find = [](const std::string& text) {
        int n = 0;
        for (const auto& r : g_received) n += r.message == text;
        return n;
    };
    EXPECT_EQ(find("some text"), 1);
    EXPECT_EQ(find("from the sender"), 1);
    EXPECT_EQ(find(std::string(511, 'x')), 1) << "the oversized datagram was dropped, not cut";
    for (const auto& r : g_received) {
        if (r.message == "some text")
            EXPECT_EQ(r.host, "myhost");
        else
            EXPECT_EQ(r.host, "127.0.0.1");
    }
}

TEST_F(ReceiveLoop, RunsDatagramsOnDatagramThreadsAndStartsNoneForAnEmptyOne) {
    int port = FreePort();
    Loop loop(port);
    Socket sender;
    WaitForLoop(sender, port);

    const int kEmpty = 20;
    int before = g_threadsStarted;
    for (int i = 0; i < kEmpty; ++i) sender.SendTo(port, "");
    WaitAllHandled(sender, port);
    // The count holds Wine's own threads too, which come now and then: a thread per empty
    // datagram is what must not show.
    EXPECT_LT(g_threadsStarted - before, kEmpty / 2) << "an empty datagram started a thread";
    EXPECT_EQ(ReceivedCount(), 1u) << "an empty datagram reached the callback";

    for (int i = 0; i < 5; ++i) sender.SendTo(port, "<13> counted " + std::to_string(i));
    ASSERT_TRUE(ovtest::WaitUntil([] { return ReceivedCount() == 6; }, kWait));
    std::lock_guard<std::mutex> lock(g_mutex);
    EXPECT_LE(g_callbackThreads.size(), 6u) << "more threads than datagrams";
}

TEST_F(ReceiveLoop, AThreadThatFinishedTakesTheNextDatagram) {
    int port = FreePort();
    Loop loop(port);
    Socket sender;
    WaitForLoop(sender, port);

    // Each sent once the one before is through its callback: the thread that ran it takes the
    // next, however soon. A thread left from the markers may take one as its linger ends.
    const int kOneAtATime = 10;
    for (int i = 0; i < kOneAtATime; ++i) {
        sender.SendTo(port, "<13> one at a time " + std::to_string(i));
        ASSERT_TRUE(ovtest::WaitUntil(
            [i] { return ReceivedCount() == static_cast<std::size_t>(i + 1) && g_live == 0; }, kWait));
    }
    std::lock_guard<std::mutex> lock(g_mutex);
    EXPECT_LE(g_callbackThreads.size(), 2u) << "datagrams one at a time each took a thread of their own";
}

// One sender's flood: as many of its datagrams in callbacks at once as its lane allows, no more,
// and none lost once the callbacks go on. (The bound on all threads, which several senders
// reach, is driven in the core's own tests.)
TEST_F(ReceiveLoop, DatagramThreadsStayWithinTheirBoundUnderAFlood) {
    int port = FreePort();
    Loop loop(port);
    Socket sender;
    WaitForLoop(sender, port);

    HeldCallbacks held;
    const int kFlood = 400;
    for (int i = 0; i < kFlood; ++i) sender.SendTo(port, "<13> flood " + std::to_string(i));

    EXPECT_TRUE(ovtest::WaitUntil([] { return g_live >= static_cast<int>(kLaneWindow); }, kWait))
        << "only " << g_live << " threads started";
    // Once the loop has read all of them, an unbounded loop would have started a thread for each.
    EXPECT_TRUE(ovtest::WaitUntil([] { return CSyslogMinitor::getPendingCount() == kFlood; }, kWait));
    EXPECT_EQ(g_peak.load(), static_cast<int>(kLaneWindow));
    EXPECT_EQ(ReceivedCount(), 0u) << "a held callback went on before its release";

    held.Release();
    EXPECT_TRUE(ovtest::WaitUntil([] { return ReceivedCount() == kFlood; }, kLongWait))
        << ReceivedCount() << " of " << kFlood << " arrived: the held datagrams were lost";
    EXPECT_EQ(loop.Stop(), SYSLOG_OK);
}

// A burst read back to back gets every thread its lane allows, each started by the one before it
// while datagrams wait, even when the threads started before the burst are all busy.
TEST_F(ReceiveLoop, ABurstGetsEveryThreadItsLaneAllows) {
    int port = FreePort();
    int running = g_threadsStarted - g_threadsEnded;
    Loop loop(port);
    Socket sender;
    WaitForLoop(sender, port);
    // No thread lingers from the markers: none can take the burst over by chance.
    ASSERT_TRUE(ovtest::WaitUntil([&] { return g_threadsStarted - g_threadsEnded <= running + 1; }, kWait));

    HeldCallbacks held;
    // Held still, the loop leaves the burst in the socket (small enough for any receive buffer)
    // and then reads it back to back.
    const int kBurst = 300;
    ASSERT_NE(SuspendThread(loop.handle()), static_cast<DWORD>(-1));
    for (int i = 0; i < kBurst; ++i) sender.SendTo(port, "<13> burst " + std::to_string(i));
    EXPECT_EQ(CSyslogMinitor::getPendingCount(), 0) << "the loop read while it was held still";
    ResumeThread(loop.handle());

    EXPECT_TRUE(ovtest::WaitUntil([] { return CSyslogMinitor::getPendingCount() == kBurst; }, kWait));
    EXPECT_TRUE(ovtest::WaitUntil([] { return g_live >= static_cast<int>(kLaneWindow); }, kWait))
        << "only " << g_live << " threads took the burst";
    EXPECT_EQ(ReceivedCount(), 0u) << "a held callback went on before its release";

    held.Release();
    EXPECT_TRUE(ovtest::WaitUntil([] { return ReceivedCount() == kBurst; }, kLongWait))
        << ReceivedCount() << " of " << kBurst << " arrived";
    EXPECT_EQ(loop.Stop(), SYSLOG_OK);
}

// Asks the heaps themselves, which tell an allocated block from a freed one without touching it.
bool StillAllocated(void* block) {
    HANDLE heaps[64];
    DWORD n = GetProcessHeaps(64, heaps);
    for (DWORD i = 0; i < n && i < 64; ++i)
        if (HeapValidate(heaps[i], 0, block)) return true;
    return false;
}

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
    ASSERT_TRUE(ovtest::WaitUntil(
        [&] {
            sender.SendTo(port, "<13>Jan 12 10:00:00 owner kept");
            Sleep(50);  // paces the resends: a datagram may be lost, the wait around it is bounded
            return ReceivedCount() > 0;
        },
        kWait));
    CSyslogMinitor::stopTrap();
    loop.join();
    std::lock_guard<std::mutex> lock(g_mutex);
    EXPECT_EQ(g_received[0].host, "owner");
    EXPECT_EQ(g_received[0].message, "kept");
}

// What the steps saw, in the order they ran.
std::vector<std::pair<std::string, int>> g_turns;

struct TurnRecord {
    std::string host;
    int n;
};

void RecordTurn(void* context) {
    std::unique_ptr<TurnRecord> record(static_cast<TurnRecord*>(context));
    std::lock_guard<std::mutex> lock(g_mutex);
    g_turns.emplace_back(record->host, record->n);
}

unsigned int InTurn(CSyslogMinitor* message) {
    char* host = message->getHost();
    char* text = message->getMessage();
    int n = std::atoi(text);
    Sleep(n < 0 ? 0 : static_cast<DWORD>(n * 7919 % 13));  // later ones often come first to the turn
    CSyslogMinitor::deliverInTurn(RecordTurn, new TurnRecord{host, n});
    std::free(host);
    std::free(text);
    delete message;
    return 0;
}

std::vector<int> TurnsOf(const std::string& host) {
    std::lock_guard<std::mutex> lock(g_mutex);
    std::vector<int> turns;
    for (const auto& turn : g_turns)
        if (turn.first == host) turns.push_back(turn.second);
    return turns;
}

std::vector<int> Count(int n) {
    std::vector<int> v(n);
    for (int i = 0; i < n; ++i) v[i] = i;
    return v;
}

// The steps of one sender run in its arrival order, however long each callback took before it
// queued its step. (Senders on other addresses, which the lanes keep apart, are driven from Linux
// in the service's tests: a Windows socket here cannot pick its loopback source address.)
TEST_F(ReceiveLoop, StepsFollowTheArrivalOrder) {
    int port = FreePort();
    CSyslogMinitor::setRadiusPort(port);
    std::thread loop([] { CSyslogMinitor::accept(InTurn); });
    Socket sender;
    ASSERT_TRUE(ovtest::WaitUntil(
        [&] {
            sender.SendTo(port, "<13>Jan 12 10:00:00 host -1");
            Sleep(50);  // paces the resends: a datagram may be lost, the wait around it is bounded
            return !TurnsOf("host").empty();
        },
        kWait));
    ASSERT_TRUE(ovtest::WaitUntil([] { return CSyslogMinitor::getPendingCount() == 0; }, kWait));
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        g_turns.clear();
    }
    constexpr int kCount = 500;
    for (int i = 0; i < kCount; ++i) {
        sender.SendTo(port, "<13>Jan 12 10:00:00 host " + std::to_string(i));
        if (i % 50 == 0) sender.SendTo(port, "refused: no bracket");  // queues no step
    }
    EXPECT_TRUE(ovtest::WaitUntil([] { return TurnsOf("host").size() >= kCount; }, kLongWait));
    CSyslogMinitor::stopTrap();
    loop.join();
    EXPECT_EQ(TurnsOf("host"), Count(kCount));
}

// Outside a callback nothing orders a step: it runs at once.
TEST_F(ReceiveLoop, AStepOutsideACallbackRunsAtOnce) {
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        g_turns.clear();
    }
    CSyslogMinitor::deliverInTurn(RecordTurn, new TurnRecord{"here", 1});
    EXPECT_EQ(TurnsOf("here"), std::vector<int>{1});
}

}  // namespace
