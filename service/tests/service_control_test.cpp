// What the service object reports while a pause and a stop are under way. Wine's service manager
// answers no query while a control handler runs, and a pause's handler returns only at PAUSED, so
// the reports are recorded in process: each pending one carries the hint declared for its state,
// that hint exceeds the declared silence behind it, and no two reports are further apart.
#include <gtest/gtest.h>

#include <windows.h>
#include <process.h>

#include <chrono>
#include <memory>
#include <vector>

#include "ovtest/wait_until.h"
#include "ovwin/handles.h"
#include "ovwin/locks.h"
#include "service_control.h"

namespace {

struct Report {
    ULONGLONG at;
    DWORD state;
    DWORD checkPoint;
    DWORD waitHint;
};

class Recorder {
public:
    bool Send(const SERVICE_STATUS& s) {
        ovwin::CriticalLock lock(m_lock);
        m_reports.push_back({GetTickCount64(), s.dwCurrentState, s.dwCheckPoint, s.dwWaitHint});
        return true;
    }
    std::vector<Report> Take() {
        ovwin::CriticalLock lock(m_lock);
        std::vector<Report> taken;
        taken.swap(m_reports);
        return taken;
    }
    DWORD LastState() {
        ovwin::CriticalLock lock(m_lock);
        return m_reports.empty() ? 0 : m_reports.back().state;
    }

private:
    ovwin::CriticalSection m_lock;
    std::vector<Report> m_reports;
};

// Manual-reset: set when the supervision asks the worker to end.
HANDLE g_workerEnd = CreateEventA(nullptr, TRUE, FALSE, nullptr);

// Rests until asked to end; one not ended in time the supervision ends from outside.
unsigned __stdcall IdleWorker(void*) {
    while (WaitForSingleObject(g_workerEnd, 1000) == WAIT_TIMEOUT) {
    }
    return 0;
}

// A worker that takes a pause only restAfterMs after it was asked (never at INFINITE), and leaves
// drainMs of work for a stop; what the supervision tells goes to the service as the real one's does.
class SlowSupervisor : public CWorkerSupervisor {
public:
    SlowSupervisor(CSyslogService& service, DWORD restAfterMs, DWORD drainMs)
        : m_service(service), m_restAfterMs(restAfterMs), m_drainMs(drainMs) {}

protected:
    void AskToEnd() override { SetEvent(g_workerEnd); }
    void AskToPause() override { m_pauseAsked = Now(); }
    bool Resting() override { return m_restAfterMs != INFINITE && Now() - m_pauseAsked >= m_restAfterMs; }
    long Pending() override { return Now() < m_drainEnd ? 1 : 0; }
    void OnStarted() override { m_service.status().Report(SERVICE_RUNNING); }
    void OnStopProgress() override { m_service.status().Progress(); }
    void OnStopping() override { m_drainEnd = Now() + m_drainMs; }

private:
    CSyslogService& m_service;
    const DWORD m_restAfterMs;
    const DWORD m_drainMs;
    ULONGLONG m_pauseAsked = 0;
    ULONGLONG m_drainEnd = 0;
};

// A service with a slow worker, its supervision on a thread of its own until the scope ends.
class RecordedService {
public:
    RecordedService(DWORD restAfterMs, DWORD drainMs)
        : m_service(
              [=](CSyslogService& s) { return std::make_unique<SlowSupervisor>(s, restAfterMs, drainMs); },
              [this](SERVICE_STATUS_HANDLE, const SERVICE_STATUS& s) { return recorder.Send(s); }) {
        ResetEvent(g_workerEnd);
        m_service.status().Attach(reinterpret_cast<SERVICE_STATUS_HANDLE>(1));  // never used as a handle
        m_service.status().Report(SERVICE_START_PENDING);
        m_thread.reset(reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, Supervise, this, 0, nullptr)));
    }
    ~RecordedService() {
        if (!m_thread) return;
        m_service.supervisor().RequestStop();
        if (!Ended(60000)) {
            std::printf("the supervision did not end after a stop; ending the test program\n");
            std::fflush(stdout);
            TerminateProcess(GetCurrentProcess(), 3);
        }
    }
    RecordedService(const RecordedService&) = delete;
    RecordedService& operator=(const RecordedService&) = delete;

    bool Running() {
        return ovtest::WaitUntil([&] { return recorder.LastState() == SERVICE_RUNNING; },
                                 std::chrono::seconds(20));
    }
    bool Ended(DWORD ms) { return WaitForSingleObject(m_thread.get(), ms) == WAIT_OBJECT_0; }
    CSyslogService& service() { return m_service; }

    Recorder recorder;

private:
    static unsigned __stdcall Supervise(void* self) {
        static_cast<RecordedService*>(self)->m_service.supervisor().Supervise(IdleWorker);
        return 0;
    }

    CSyslogService m_service;
    ovwin::UniqueHandleT m_thread;
};

// The reports of one pending operation: its pending state with the declared hint from
// checkpoint 1 on, never silent for as long as the hint, then `end`.
void ExpectCovered(const std::vector<Report>& reports, DWORD pending, DWORD end, DWORD declaredSilence,
                   size_t minPending, int line) {
    ASSERT_GE(reports.size(), minPending + 1) << "line " << line;
    for (size_t i = 0; i + 1 < reports.size(); ++i) {
        const Report& r = reports[i];
        EXPECT_EQ(r.state, pending) << "line " << line << ", report " << i;
        EXPECT_EQ(r.checkPoint, i + 1) << "line " << line << ", report " << i;
        EXPECT_EQ(r.waitHint, WaitHint(pending)) << "line " << line << ", report " << i;
        EXPECT_GT(r.waitHint, declaredSilence) << "line " << line;
        EXPECT_LT(reports[i + 1].at - r.at, r.waitHint)
            << "line " << line << ", after checkpoint " << r.checkPoint;
    }
    EXPECT_EQ(reports.back().state, end) << "line " << line;
}

TEST(ServiceReports, APauseIsNeverSilentForItsHint) {
    struct {
        int line;
        DWORD restAfterMs;
        DWORD end;          // what the pause ends in
        size_t minPending;  // pending reports at least: one a second
    } cases[] = {
        {__LINE__, 0, SERVICE_PAUSED, 1},
        {__LINE__, 2500, SERVICE_PAUSED, 3},
        {__LINE__, INFINITE, SERVICE_RUNNING, kPauseTakenMs / kSettleProgressMs / 2},  // withdrawn
    };
    for (const auto& c : cases) {
        RecordedService running(c.restAfterMs, 0);
        ASSERT_TRUE(running.Running()) << "line " << c.line;
        running.recorder.Take();
        running.service().Pause();
        ExpectCovered(running.recorder.Take(), SERVICE_PAUSE_PENDING, c.end, kPauseSilenceMs, c.minPending,
                      c.line);
        if (c.end != SERVICE_PAUSED) continue;
        running.service().Continue();
        ExpectCovered(running.recorder.Take(), SERVICE_CONTINUE_PENDING, SERVICE_RUNNING, kPauseSilenceMs, 1,
                      c.line);
    }
}

TEST(ServiceReports, ADrainingStopIsNeverSilentForItsHint) {
    constexpr DWORD kDrainMs = 2500;
    RecordedService running(0, kDrainMs);
    ASSERT_TRUE(running.Running());
    running.recorder.Take();
    running.service().Stop();
    ASSERT_TRUE(running.Ended(kAskedEndMs + kEndWaitMs + kDrainLimitMs + 10000));
    std::vector<Report> reports = running.recorder.Take();
    // The supervision ends at STOP_PENDING: STOPPED is the service main's to report.
    reports.push_back({GetTickCount64(), SERVICE_STOPPED, 0, 0});
    ExpectCovered(reports, SERVICE_STOP_PENDING, SERVICE_STOPPED, kStopSilenceMs, kDrainMs / kStopProgressMs,
                  __LINE__);
}

}  // namespace
