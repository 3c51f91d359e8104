#include <gtest/gtest.h>

#include <windows.h>
#include <process.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "ovwin/handles.h"
#include "overflow_report.h"
#include "supervision.h"

namespace {

volatile LONG g_workerSteps = 0;
volatile LONG g_allocatorSteps = 0;
volatile LONG g_allocatorsRun = 0;

volatile unsigned g_workerSink = 0;

// A worker that never cooperates: it works, allocates and frees for ever.
unsigned __stdcall BusyWorker(void*) {
    for (;;) {
        for (unsigned i = 0; i < 2000; ++i) g_workerSink = g_workerSink * 31 + i;
        std::string s(100 + (g_workerSteps % 900), 'w');
        void* p = std::malloc(s.size() * 3);
        std::free(p);
        InterlockedIncrement(&g_workerSteps);
    }
}

unsigned __stdcall QuittingWorker(void*) { return 7; }

// A worker that ends by itself once asked, as the receive loop does.
volatile LONG g_askedToEnd = 0;
volatile LONG g_returned = 0;
void AskToEnd() { InterlockedExchange(&g_askedToEnd, 1); }
unsigned __stdcall ListeningWorker(void*) {
    while (InterlockedCompareExchange(&g_askedToEnd, 0, 0) == 0) InterlockedIncrement(&g_workerSteps);
    InterlockedExchange(&g_returned, 1);
    return 0;
}

// Stands for the datagram threads, which keep allocating while the worker is held or ended.
unsigned __stdcall Allocator(void*) {
    while (InterlockedCompareExchange(&g_allocatorsRun, 0, 0) != 0) {
        std::vector<std::string> v(8, std::string(257, 'd'));
        InterlockedIncrement(&g_allocatorSteps);
    }
    return 0;
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
    UniqueHandleT m_thread;
};

// Threads that allocate until their scope ends.
class Allocators {
public:
    explicit Allocators(int count) {
        InterlockedExchange(&g_allocatorsRun, 1);
        for (int i = 0; i < count; ++i) m_threads.push_back(Start(Allocator, nullptr));
    }
    ~Allocators() {
        InterlockedExchange(&g_allocatorsRun, 0);
        DWORD ended = WaitForMultipleObjects(static_cast<DWORD>(m_threads.size()), m_threads.data(), TRUE, 30000);
        if (ended != WAIT_OBJECT_0) Abandon("allocating threads did not end: a heap lock is held");
        for (HANDLE h : m_threads) CloseHandle(h);
    }
    Allocators(const Allocators&) = delete;
    Allocators& operator=(const Allocators&) = delete;

private:
    std::vector<HANDLE> m_threads;
};

// A supervisor whose worker listens to AskToEnd, with work left over that drains as the test says.
class ListeningSupervisor : public CWorkerSupervisor {
public:
    explicit ListeningSupervisor(DWORD drainLimitMs = kDrainLimitMs) : CWorkerSupervisor(drainLimitMs) {}
    volatile LONG listening = 1;
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
    bool Listening() override { return Read(listening) != 0; }
    long Pending() override { return Read(pending); }
    void OnStarted() override { InterlockedIncrement(&started); }
    void OnStopProgress() override { InterlockedIncrement(&progress); }
    void OnDrainGivenUp(long left) override { InterlockedExchange(&givenUp, left); }

private:
    static LONG Read(volatile LONG& v) { return InterlockedCompareExchange(&v, 0, 0); }
};

LONG Read(volatile LONG& v) { return InterlockedCompareExchange(&v, 0, 0); }

// True when the counter moves within the time.
bool Moves(volatile LONG& counter, DWORD ms) {
    LONG before = Read(counter);
    DWORD start = GetTickCount();
    while (GetTickCount() - start < ms) {
        if (Read(counter) != before) return true;
        Sleep(5);
    }
    return false;
}

// The worker is held when its counter stays put for a while (the hold has had time to act).
bool Held(DWORD settleMs = 200) {
    DWORD start = GetTickCount();
    while (GetTickCount() - start < 5000) {
        Sleep(settleMs / 4);
        LONG a = Read(g_workerSteps);
        Sleep(settleMs);
        if (Read(g_workerSteps) == a) return true;
    }
    return false;
}

bool WaitRunning(CWorkerSupervisor& s) {
    for (int i = 0; i < 500 && s.request() != kRequestRun; ++i) Sleep(10);
    return s.request() == kRequestRun;
}

TEST(Supervision, RequestsChangeOnlyFromTheStatesThatAllowThem) {
    CWorkerSupervisor s;
    s.RequestPause();
    s.RequestContinue();
    EXPECT_EQ(s.request(), kRequestStop) << "requests before the worker exists are ignored";

    RunningSupervision run(s, BusyWorker);
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
        Sleep(20);
    }
    ASSERT_TRUE(run.Ended(20000)) << "stop must end the supervision";
    EXPECT_TRUE(run.result());
}

TEST(Supervision, PauseHoldsAndStopEndsAWorkerWhileOthersAllocate) {
    constexpr int kCycles = 25;
    Allocators allocators(4);

    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        CWorkerSupervisor s;
        RunningSupervision run(s, BusyWorker);
        ASSERT_TRUE(WaitRunning(s));
        ASSERT_TRUE(Moves(g_workerSteps, 2000)) << "worker runs";
        for (int cycle = 0; cycle < kCycles; ++cycle) {
            SCOPED_TRACE("cycle " + std::to_string(cycle));
            ASSERT_TRUE(s.RequestPause());
            ASSERT_TRUE(s.WaitSettled(5000)) << "the hold must be acknowledged";
            LONG atHold = Read(g_workerSteps);
            Sleep(30);
            ASSERT_EQ(Read(g_workerSteps), atHold) << "the worker must be held once the pause is acknowledged";
            ASSERT_TRUE(Moves(g_allocatorSteps, 2000)) << "other threads must not wait on a lock the worker held";
            s.RequestContinue();
            ASSERT_TRUE(Moves(g_workerSteps, 2000)) << "continue must let the worker go on";
        }
        if (round == 1) {
            s.RequestPause();
            ASSERT_TRUE(Held(40));
        }
        s.RequestStop();
        ASSERT_TRUE(run.Ended(20000)) << "stop must end a worker without its help";
        EXPECT_TRUE(run.result());
        EXPECT_FALSE(Moves(g_workerSteps, 200)) << "the worker must have ended";
        EXPECT_TRUE(Moves(g_allocatorSteps, 2000)) << "the heap must be free after the stop";
    }
}

// A stop asks first: the worker ends by its own return, a held one after being let go. One that
// does not listen is still ended from outside, soon after.
TEST(Supervision, StopAsksTheWorkerToEndBeforeEndingIt) {
    const struct {
        const char* what;
        CWorkerSupervisor::Routine routine;
        bool pauseFirst;
        bool returns;  // ends by its own return, not cut off
    } cases[] = {
        {"listening", ListeningWorker, false, true},
        {"listening, paused", ListeningWorker, true, true},
        {"not listening", BusyWorker, false, false},
        {"not listening, paused", BusyWorker, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        InterlockedExchange(&g_askedToEnd, 0);
        InterlockedExchange(&g_returned, 0);
        ListeningSupervisor s;
        RunningSupervision run(s, c.routine);
        ASSERT_TRUE(WaitRunning(s));
        ASSERT_TRUE(Moves(g_workerSteps, 2000));
        if (c.pauseFirst) {
            ASSERT_TRUE(s.RequestPause());
            ASSERT_TRUE(s.WaitSettled(5000));
            ASSERT_TRUE(Held(40));
        }
        DWORD start = GetTickCount();
        ASSERT_TRUE(s.RequestStop());
        ASSERT_TRUE(s.WaitSettled(5000));
        EXPECT_LT(GetTickCount() - start, kAskedEndMs + 2000) << "a worker that does not listen is not waited for long";
        ASSERT_TRUE(run.Ended(20000));
        EXPECT_EQ(InterlockedCompareExchange(&g_askedToEnd, 0, 0), 1) << "the worker must have been asked";
        EXPECT_EQ(InterlockedCompareExchange(&g_returned, 0, 0), c.returns ? 1 : 0);
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
// what is still left then is told once.
TEST(Supervision, StopWaitsForTheWorkLeftUpToTheDrainLimit) {
    constexpr DWORD kLimitMs = 1500;
    const struct {
        const char* what;
        LONG pending;
        DWORD finishAfterMs;  // INFINITE: never finishes
        bool givenUp;
    } cases[] = {
        {"nothing left", 0, 0, false},
        {"finishes within the limit", 5, 700, false},
        {"never finishes", 7, INFINITE, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        InterlockedExchange(&g_askedToEnd, 0);
        ListeningSupervisor s(kLimitMs);
        InterlockedExchange(&s.pending, c.pending);
        RunningSupervision run(s, ListeningWorker);
        ASSERT_TRUE(WaitRunning(s));
        DWORD start = GetTickCount();
        ASSERT_TRUE(s.RequestStop());
        if (c.pending != 0 && c.finishAfterMs != INFINITE) {
            EXPECT_FALSE(run.Ended(c.finishAfterMs)) << "the supervision must wait while work is left";
            InterlockedExchange(&s.pending, 0);
        }
        ASSERT_TRUE(run.Ended(20000));
        DWORD took = GetTickCount() - start;
        EXPECT_TRUE(run.result());
        EXPECT_EQ(s.pendingWhenAsked, c.pending) << "the worker is asked to end before the wait";
        EXPECT_EQ(s.givenUp, c.givenUp ? c.pending : -1);
        if (c.givenUp) {
            EXPECT_GE(took, kLimitMs);
            EXPECT_LT(took, kLimitMs + 5000);
            EXPECT_GE(s.progress, 1) << "a long stop reports progress";
        }
    }
}

// The service is reported started once the worker is up, once, and not before.
TEST(Supervision, StartedOnlyOnceTheWorkerListens) {
    ListeningSupervisor s;
    InterlockedExchange(&s.listening, 0);
    InterlockedExchange(&g_askedToEnd, 0);
    RunningSupervision run(s, ListeningWorker);
    ASSERT_TRUE(WaitRunning(s));
    ASSERT_TRUE(Moves(g_workerSteps, 2000));
    EXPECT_EQ(s.started, 0) << "not started while the worker is not listening";
    InterlockedExchange(&s.listening, 1);
    DWORD start = GetTickCount();
    while (s.started == 0 && GetTickCount() - start < 5000) Sleep(5);
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
        {0, false, 0},    {0, false, 0},                     // nothing dropped
        {40, false, 0},   {90, false, 0}, {90, false, 90},   // an episode of 90
        {90, false, 0},                                      // told once only
        {95, false, 0},   {95, false, 5},                    // a second episode
        {120, false, 0},  {130, true, 35},                   // cut short by the end
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

}  // namespace
