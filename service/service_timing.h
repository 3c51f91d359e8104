// Every bound of the service's life under the service control manager, and the wait hints that
// must cover them: a pending state is given a new checkpoint, or left, before its hint runs out.
#pragma once

#include <windows.h>

#include <algorithm>

// The start: the socket bound and the worker listening, with progress while it settles.
constexpr DWORD kStartWaitHintMs = 10000;
// A stop and a pause report a new checkpoint at least this often while they wait.
constexpr DWORD kStopWaitHintMs = 3000;
constexpr DWORD kPauseWaitHintMs = 5000;

// A stop asks the worker to end and gives it this long; the receive loop ends at once when asked,
// or after its read's time-out when the wake-up was lost.
constexpr DWORD kAskedEndMs = 3000;
// A worker not ended by then is ended from outside, and waited for this long at most.
constexpr DWORD kEndWaitMs = 1000;
// Then what the worker read is forwarded for at most this long.
constexpr DWORD kDrainLimitMs = 20000;
// While the stop asks and drains, a checkpoint at least this often; its waits look this often.
constexpr DWORD kStopProgressMs = 500;
constexpr DWORD kStopPollMs = 100;
constexpr DWORD kDrainPollMs = 20;
// Last, the records still waiting out their retries are given this long to reach the spools (the
// drain above has normally seen them go), then the spool threads this long to leave a delivery.
constexpr DWORD kQueueStopMs = 500;
constexpr DWORD kSpoolStopMs = 2000;

// A pause is taken by the worker between two reads; one not taken within this is withdrawn.
constexpr DWORD kPauseTakenMs = 10000;
// A pause (and a stop) is reported done only once the supervision acted on it, with progress
// every kSettleProgressMs meanwhile, up to kSettleWaitMs.
constexpr DWORD kSettleWaitMs = 30000;
constexpr DWORD kSettleProgressMs = 1000;

// The supervision's period while the worker runs: statistics and the overflow report.
constexpr DWORD kTickMs = 1000;
// Time for the dispatcher to send the answer of a handler that has just returned.
constexpr DWORD kHandlerAnswerMs = 50;
// From the dispatcher's return to the service main's: only its last report and return.
constexpr DWORD kEndOfServiceMainMs = 10000;

// The waits that no checkpoint interrupts, each within the hint of the state it runs in: between
// two checkpoints of a stop's asks and drain; from the last of them over the wait for a worker
// ended from outside; from the checkpoint before the spool threads stop over their bound; between
// two checkpoints of a pause settling.
static_assert(kStopProgressMs + kStopPollMs < kStopWaitHintMs, "a stop's checkpoints");
static_assert(kStopProgressMs + kStopPollMs + kEndWaitMs < kStopWaitHintMs, "ending the worker");
static_assert(kQueueStopMs + kSpoolStopMs < kStopWaitHintMs, "stopping the queue and spool threads");
static_assert(kSettleProgressMs < kPauseWaitHintMs, "a pause's checkpoints");

// The longest each pending state goes without a new checkpoint, as the waits above are built:
// what its wait hint must cover. A stop's is a worker ended from outside, then the drain's first
// checkpoint, counted from the drain's start; or the queue's and the spool threads' bounds. A start reports
// none; its hint covers the whole start.
constexpr DWORD kStopSilenceMs = std::max(
    kStopProgressMs + kStopPollMs + kEndWaitMs + kStopProgressMs + kDrainPollMs, kQueueStopMs + kSpoolStopMs);
constexpr DWORD kPauseSilenceMs = kSettleProgressMs;
static_assert(kStopSilenceMs < kStopWaitHintMs, "a stop's longest silence");
static_assert(kPauseSilenceMs < kPauseWaitHintMs, "a pause's longest silence");
