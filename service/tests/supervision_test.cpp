#include <gtest/gtest.h>

#include <windows.h>
#include <process.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "ovtest/wait_until.h"
#include "ovwin/handles.h"
#include "ovwin/locks.h"
#include "forwarding.h"
#include "overflow_report.h"
#include "ovwin/registry_names.h"
#include "supervision.h"

namespace {

volatile LONG g_workerSteps = 0;
volatile unsigned g_workerSink = 0;

// A worker that never cooperates: it computes for ever, touching nothing another thread needs.
unsigned __stdcall SpinningWorker(void*) {
    for (;;) {
        for (unsigned i = 0; i < 2000; ++i) g_workerSink = g_workerSink * 31 + i;
        InterlockedIncrement(&g_workerSteps);
    }
}

unsigned __stdcall QuittingWorker(void*) { return 7; }

// A worker that rests between steps when asked to pause and ends when asked to, as the receive
// loop does.
volatile LONG g_askedToEnd = 0;
volatile LONG g_askedToPause = 0;
volatile LONG g_resting = 0;
volatile LONG g_returned = 0;
void AskToEnd() { InterlockedExchange(&g_askedToEnd, 1); }
unsigned __stdcall ListeningWorker(void*) {
    while (ovwin::AtomicRead(g_askedToEnd) == 0) {
        if (ovwin::AtomicRead(g_askedToPause) != 0) {
            InterlockedExchange(&g_resting, 1);
            Sleep(1);
            continue;
        }
        InterlockedExchange(&g_resting, 0);
        InterlockedIncrement(&g_workerSteps);
    }
    InterlockedExchange(&g_resting, 0);
    InterlockedExchange(&g_returned, 1);
    return 0;
}

void ResetWorkerFlags() {
    InterlockedExchange(&g_askedToEnd, 0);
    InterlockedExchange(&g_askedToPause, 0);
    InterlockedExchange(&g_resting, 0);
    InterlockedExchange(&g_returned, 0);
}

HANDLE Start(unsigned(__stdcall* routine)(void*), void* arg) {
    return reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, routine, arg, 0, nullptr));
}

// Threads a test could not end are stuck for good (on a heap lock a frozen thread holds, say):
// the program ends here with what it printed, where it would otherwise hang until killed.
[[noreturn]] void Abandon(const char* what) {
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::printf("%s.%s: %s; ending the test program\n", test ? test->test_suite_name() : "?",
                test ? test->name() : "?", what);
    std::fflush(stdout);
    TerminateProcess(GetCurrentProcess(), 3);
    for (;;) Sleep(INFINITE);
}

// A supervision on a thread of its own, ended with its scope even when an assertion returns
// early: one left running would act on the test's freed supervisor and keep the program alive.
class RunningSupervision {
public:
    RunningSupervision(CWorkerSupervisor& supervisor, CWorkerSupervisor::Routine routine)
        : m_supervisor(supervisor), m_routine(routine), m_thread(Start(Run, this)) {}
    ~RunningSupervision() {
        if (!m_thread || Ended(0)) return;
        m_supervisor.RequestStop();
        if (!Ended(60000)) Abandon("the supervision did not end after a stop");
    }
    RunningSupervision(const RunningSupervision&) = delete;
    RunningSupervision& operator=(const RunningSupervision&) = delete;

    bool Ended(DWORD ms) { return WaitForSingleObject(m_thread.get(), ms) == WAIT_OBJECT_0; }
    bool result() const { return m_result; }

private:
    static unsigned __stdcall Run(void* self) {
        auto* run = static_cast<RunningSupervision*>(self);
        run->m_result = run->m_supervisor.Supervise(run->m_routine);
        return 0;
    }

    CWorkerSupervisor& m_supervisor;
    CWorkerSupervisor::Routine m_routine;
    volatile bool m_result = false;
    ovwin::UniqueHandleT m_thread;
};

// A supervisor whose worker listens to AskToEnd, with work left over that drains as the test says.
class ListeningSupervisor : public CWorkerSupervisor {
public:
    explicit ListeningSupervisor(DWORD drainLimitMs = kDrainLimitMs, ULONGLONG clockStart = 0,
                                 unsigned clockSpeed = 1)
        : CWorkerSupervisor(drainLimitMs),
          m_clockStart(clockStart),
          m_clockSpeed(clockSpeed),
          m_began(GetTickCount64()) {}
    volatile LONG listening = 1;
    volatile LONG listeningLooks = 0;  // how often the supervision asked whether the worker is up
    volatile LONG pending = 0;
    volatile LONG started = 0;
    volatile LONG progress = 0;
    volatile LONG givenUp = -1;
    volatile LONG pendingWhenAsked = -1;

protected:
    void AskToEnd() override {
        InterlockedCompareExchange(&pendingWhenAsked, pending, -1);
        ::AskToEnd();
    }
    void AskToPause() override { InterlockedExchange(&g_askedToPause, 1); }
    void AskToContinue() override { InterlockedExchange(&g_askedToPause, 0); }
    bool Resting() override { return ovwin::AtomicRead(g_resting) != 0; }
    // Starts where the test says (near where 32 bits wrap, say) and runs as fast as it says.
    ULONGLONG Now() override { return m_clockStart + (GetTickCount64() - m_began) * m_clockSpeed; }
    bool Listening() override {
        InterlockedIncrement(&listeningLooks);
        return ovwin::AtomicRead(listening) != 0;
    }
    long Pending() override { return ovwin::AtomicRead(pending); }
    void OnStarted() override { InterlockedIncrement(&started); }
    void OnStopProgress() override { InterlockedIncrement(&progress); }
    void OnDrainGivenUp(long left) override { InterlockedExchange(&givenUp, left); }

private:
    const ULONGLONG m_clockStart;
    const unsigned m_clockSpeed;
    const ULONGLONG m_began;
};

constexpr ULONGLONG kNearWrap = (1ull << 32) - 700;  // a 32-bit tick count wraps within the test

// True when the counter moves within the time.
bool Moves(volatile LONG& counter, DWORD ms) {
    LONG before = ovwin::AtomicRead(counter);
    return ovtest::WaitUntil([&] { return ovwin::AtomicRead(counter) != before; },
                             std::chrono::milliseconds(ms));
}

bool WaitRunning(CWorkerSupervisor& s) {
    return ovtest::WaitUntil([&] { return s.request() == kRequestRun; }, std::chrono::seconds(5));
}

TEST(Supervision, RequestsChangeOnlyFromTheStatesThatAllowThem) {
    CWorkerSupervisor s;
    s.RequestPause();
    s.RequestContinue();
    EXPECT_EQ(s.request(), kRequestStop) << "requests before the worker exists are ignored";

    RunningSupervision run(s, SpinningWorker);
    ASSERT_TRUE(WaitRunning(s));
    const struct {
        bool (CWorkerSupervisor::*request)();
        bool accepted;
        LONG want;
        const char* what;
    } steps[] = {
        {&CWorkerSupervisor::RequestContinue, false, kRequestRun, "continue while running"},
        {&CWorkerSupervisor::RequestPause, true, kRequestPause, "pause"},
        {&CWorkerSupervisor::RequestPause, false, kRequestPause, "pause while paused"},
        {&CWorkerSupervisor::RequestContinue, true, kRequestRun, "continue"},
        {&CWorkerSupervisor::RequestPause, true, kRequestPause, "pause again"},
        {&CWorkerSupervisor::RequestStop, true, kRequestStop, "stop while paused"},
        {&CWorkerSupervisor::RequestContinue, false, kRequestStop, "continue after stop"},
        {&CWorkerSupervisor::RequestPause, false, kRequestStop, "pause after stop"},
        {&CWorkerSupervisor::RequestStop, false, kRequestStop, "stop after stop"},
    };
    for (const auto& step : steps) {
        EXPECT_EQ((s.*step.request)(), step.accepted) << step.what;
        EXPECT_EQ(s.request(), step.want) << step.what;
        EXPECT_TRUE(s.WaitSettled(5000)) << step.what;
    }
    ASSERT_TRUE(run.Ended(20000)) << "stop must end the supervision";
    EXPECT_TRUE(run.result());
}

// The worker takes the pause itself: nothing moves once the pause is acknowledged, and a continue
// lets it go on. A stop ends a resting worker by its own return.
TEST(Supervision, PauseIsTakenByTheWorkerUntilTheContinue) {
    ResetWorkerFlags();
    ListeningSupervisor s;
    RunningSupervision run(s, ListeningWorker);
    ASSERT_TRUE(WaitRunning(s));
    ASSERT_TRUE(Moves(g_workerSteps, 2000)) << "worker runs";
    for (int cycle = 0; cycle < 25; ++cycle) {
        SCOPED_TRACE("cycle " + std::to_string(cycle));
        ASSERT_TRUE(s.RequestPause());
        ASSERT_TRUE(s.WaitSettled(5000)) << "the pause must be acknowledged";
        ASSERT_TRUE(s.paused());
        // Nothing can prove that nothing happens: a timed look, longer than many of the worker's
        // rests of 1 ms.
        LONG atPause = ovwin::AtomicRead(g_workerSteps);
        Sleep(30);
        ASSERT_EQ(ovwin::AtomicRead(g_workerSteps), atPause)
            << "the worker must rest once the pause is acknowledged";
        ASSERT_TRUE(s.RequestContinue());
        ASSERT_TRUE(s.WaitSettled(5000));
        ASSERT_FALSE(s.paused());
        ASSERT_TRUE(Moves(g_workerSteps, 2000)) << "continue must let the worker go on";
    }
    ASSERT_TRUE(s.RequestPause());
    ASSERT_TRUE(s.WaitSettled(5000));
    ASSERT_TRUE(s.RequestStop());
    ASSERT_TRUE(run.Ended(20000));
    EXPECT_EQ(ovwin::AtomicRead(g_returned), 1) << "a resting worker ends by its own return";
}

// A worker that does not take the pause is not reported paused: the pause is withdrawn once its
// time is up, on a clock that crosses a 32-bit wrap meanwhile.
TEST(Supervision, APauseTheWorkerDoesNotTakeIsWithdrawn) {
    ResetWorkerFlags();
    ListeningSupervisor s(kDrainLimitMs, kNearWrap, 20);
    RunningSupervision run(s, SpinningWorker);
    ASSERT_TRUE(WaitRunning(s));
    ULONGLONG start = GetTickCount64();
    ASSERT_TRUE(s.RequestPause());
    ASSERT_TRUE(s.WaitSettled(20000)) << "the wait for the pause must end";
    EXPECT_LT(GetTickCount64() - start, 5000u) << "kPauseTakenMs on a clock running 20 times as fast";
    EXPECT_FALSE(s.paused());
    EXPECT_EQ(s.request(), kRequestRun) << "the request goes back to running";
    EXPECT_TRUE(Moves(g_workerSteps, 2000));
    ASSERT_TRUE(s.RequestStop());
    ASSERT_TRUE(run.Ended(20000));
}

// A stop asks first: the worker ends by its own return, a resting one too. One that does not
// listen is still ended from outside, soon after.
TEST(Supervision, StopAsksTheWorkerToEndBeforeEndingIt) {
    const struct {
        const char* what;
        CWorkerSupervisor::Routine routine;
        bool pauseFirst;
        bool returns;  // ends by its own return, not cut off
    } cases[] = {
        {"listening", ListeningWorker, false, true},
        {"listening, paused", ListeningWorker, true, true},
        {"not listening", SpinningWorker, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ResetWorkerFlags();
        ListeningSupervisor s;
        RunningSupervision run(s, c.routine);
        ASSERT_TRUE(WaitRunning(s));
        ASSERT_TRUE(Moves(g_workerSteps, 2000));
        if (c.pauseFirst) {
            ASSERT_TRUE(s.RequestPause());
            ASSERT_TRUE(s.WaitSettled(5000));
            ASSERT_TRUE(s.paused());
        }
        ULONGLONG start = GetTickCount64();
        ASSERT_TRUE(s.RequestStop());
        ASSERT_TRUE(s.WaitSettled(5000));
        EXPECT_LT(GetTickCount64() - start, kAskedEndMs + 2000u)
            << "a worker that does not listen is not waited for long";
        ASSERT_TRUE(run.Ended(20000));
        EXPECT_EQ(ovwin::AtomicRead(g_askedToEnd), 1) << "the worker must have been asked";
        EXPECT_EQ(ovwin::AtomicRead(g_returned), c.returns ? 1 : 0);
        // An ended thread shows only by what it no longer does: a timed look, over many of the
        // spinning worker's steps.
        EXPECT_FALSE(Moves(g_workerSteps, 200)) << "the worker must have ended";
        EXPECT_TRUE(run.result());
    }
}

TEST(Supervision, AWorkerThatEndsByItselfEndsTheSupervision) {
    CWorkerSupervisor s;
    RunningSupervision run(s, QuittingWorker);
    ASSERT_TRUE(run.Ended(20000));
    EXPECT_TRUE(run.result());
    EXPECT_EQ(s.request(), kRequestStop);
    s.RequestPause();
    EXPECT_EQ(s.request(), kRequestStop) << "nothing to pause after the worker ended";
}

// Work the worker left behind is waited for after it has ended, to the drain limit and no longer;
// what is still left then is told once. The same on a clock about to pass what 32 bits hold.
TEST(Supervision, StopWaitsForTheWorkLeftUpToTheDrainLimit) {
    constexpr DWORD kLimitMs = 1500;
    // Work that finishes gets a limit far beyond its look, so that a slow machine cannot reach
    // the limit before the test lets the work finish.
    constexpr DWORD kRoomyLimitMs = 120000;
    const struct {
        const char* what;
        LONG pending;
        DWORD finishAfterMs;  // INFINITE: never finishes
        bool givenUp;
        DWORD limitMs;
    } cases[] = {
        {"nothing left", 0, 0, false, kLimitMs},
        {"finishes within the limit", 5, 700, false, kRoomyLimitMs},
        {"never finishes", 7, INFINITE, true, kLimitMs},
    };
    for (ULONGLONG clockStart : {0ull, kNearWrap})
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.what) + (clockStart != 0 ? ", clock near the wrap" : ""));
            ResetWorkerFlags();
            ListeningSupervisor s(c.limitMs, clockStart);
            InterlockedExchange(&s.pending, c.pending);
            RunningSupervision run(s, ListeningWorker);
            ASSERT_TRUE(WaitRunning(s));
            ULONGLONG start = GetTickCount64();
            ASSERT_TRUE(s.RequestStop());
            if (c.pending != 0 && c.finishAfterMs != INFINITE) {
                // That the stop waits shows only as its not ending: a timed look, as long as the case
                // says the work takes.
                EXPECT_FALSE(run.Ended(c.finishAfterMs)) << "the supervision must wait while work is left";
                InterlockedExchange(&s.pending, 0);
            }
            ASSERT_TRUE(run.Ended(20000));
            ULONGLONG took = GetTickCount64() - start;
            EXPECT_TRUE(run.result());
            EXPECT_EQ(s.pendingWhenAsked, c.pending) << "the worker is asked to end before the wait";
            EXPECT_EQ(s.givenUp, c.givenUp ? c.pending : -1);
            if (c.givenUp) {
                EXPECT_GE(took, c.limitMs);
                EXPECT_LT(took, c.limitMs + 5000);
                EXPECT_GE(s.progress, 1) << "a long stop reports progress";
            }
        }
}

// The service is reported started once the worker is up, once, and not before.
TEST(Supervision, StartedOnlyOnceTheWorkerListens) {
    ListeningSupervisor s;
    InterlockedExchange(&s.listening, 0);
    ResetWorkerFlags();
    RunningSupervision run(s, ListeningWorker);
    ASSERT_TRUE(WaitRunning(s));
    ASSERT_TRUE(Moves(g_workerSteps, 2000));
    // Not started proves something only once the supervision has looked at the worker, and more
    // than once.
    LONG looks = ovwin::AtomicRead(s.listeningLooks);
    ASSERT_TRUE(ovtest::WaitUntil([&] { return ovwin::AtomicRead(s.listeningLooks) >= looks + 3; },
                                  std::chrono::seconds(5)))
        << "the supervision must look whether the worker listens";
    EXPECT_EQ(s.started, 0) << "not started while the worker is not listening";
    InterlockedExchange(&s.listening, 1);
    EXPECT_TRUE(
        ovtest::WaitUntil([&] { return ovwin::AtomicRead(s.started) != 0; }, std::chrono::seconds(5)));
    EXPECT_EQ(s.started, 1);
    ASSERT_TRUE(s.RequestPause());
    ASSERT_TRUE(s.WaitSettled(5000));
    ASSERT_TRUE(s.RequestContinue());
    ASSERT_TRUE(s.WaitSettled(5000));
    ASSERT_TRUE(s.RequestStop());
    ASSERT_TRUE(run.Ended(20000));
    EXPECT_EQ(s.started, 1) << "started is told once";
}

TEST(OverflowReport, OneCountPerEpisodeOnceTheDroppingStops) {
    const struct {
        unsigned long dropped;
        bool final;
        unsigned long told;
    } looks[] = {
        {0, false, 0},   {0, false, 0},                     // nothing dropped
        {40, false, 0},  {90, false, 0},  {90, false, 90},  // an episode of 90
        {90, false, 0},                                     // told once only
        {95, false, 0},  {95, false, 5},                    // a second episode
        {120, false, 0}, {130, true, 35},                   // cut short by the end
        {130, true, 0},
    };
    COverflowReport report;
    int i = 0;
    for (const auto& look : looks) {
        EXPECT_EQ(report.Observe(look.dropped, look.final), look.told) << "look " << i;
        ++i;
    }
    EXPECT_EQ(BacklogFullLine(90), "Syslog backlog full : 90 datagrams dropped !");
}

// The library's count is 32 bits; the total an operator reads must go on past 2^32, and an
// episode that spans the wrap must be told whole.
TEST(OverflowReport, CountsOnAcrossTheThirtyTwoBitWrap) {
    constexpr unsigned long long kWrap = 1ull << 32;
    const struct {
        unsigned long reading;  // what the library's getDroppedCount returns
        bool final;
        unsigned long long total;
        unsigned long long told;
    } looks[] = {
        {0, false, 0, 0},
        {0xFFFFFF00ul, false, 0xFFFFFF00ull, 0},
        {0xFFFFFF00ul, false, 0xFFFFFF00ull, 0xFFFFFF00ull},
        {0xFFFFFFF0ul, false, 0xFFFFFFF0ull, 0},
        {0xFFFFFFFFul, false, 0xFFFFFFFFull, 0},
        {5, false, kWrap + 5, 0},      // wrapped between two looks
        {5, false, kWrap + 5, 0x105},  // the episode from 0xFFFFFF00, across the wrap
        {0xFFFFFFFFul, false, 2 * kWrap - 1, 0},
        {0xFFFFFFFFul, false, 2 * kWrap - 1, kWrap - 6},
        {0, true, 2 * kWrap, 1},  // a second wrap, cut short by the end
    };
    CWidenedCount dropped;
    COverflowReport report;
    int i = 0;
    for (const auto& look : looks) {
        unsigned long long total = dropped.Observe(look.reading);
        EXPECT_EQ(total, look.total) << "look " << i;
        EXPECT_EQ(report.Observe(total, look.final), look.told) << "look " << i;
        ++i;
    }
    EXPECT_EQ(BacklogFullLine(5000000000ull), "Syslog backlog full : 5000000000 datagrams dropped !");
}

// What an operator reads under the Statistics subkey: the whole 64-bit count, not its low half.
TEST(Statistics, DroppedBacklogFullIsPublishedWhole) {
    const std::string key = std::string(ovwin::kSyslogKey) + "\\" + kStatisticsSubkey;
    const std::uint64_t dropped = 5000000000ull;
    ASSERT_TRUE(WriteStatistics(dropped));
    ovwin::UniqueHkey statistics;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, statistics.put()), ERROR_SUCCESS);
    std::uint64_t stored = 0;
    DWORD type = 0, size = sizeof stored;
    ASSERT_EQ(RegQueryValueExA(statistics.get(), "DroppedBacklogFull", nullptr, &type,
                               reinterpret_cast<BYTE*>(&stored), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_QWORD));
    EXPECT_EQ(stored, dropped);
    statistics.reset();
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, key.c_str());
}

}  // namespace
