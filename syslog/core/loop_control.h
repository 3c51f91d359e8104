// What the receive loop is asked to do between reads: go on, rest (a pause), or end (a stop).
// The loop takes a pause itself, between two reads, and says so; nothing freezes it from outside.
// Portable C++.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>

class LoopControl {
public:
    // Any thread. A stop outlasts a pause; a continue ends a pause, not a stop.
    void RequestPause();
    void RequestContinue();
    void RequestStop();

    // True once the loop rests: it reads nothing until the continue.
    bool Paused() const;
    bool StopRequested() const;
    // A pause is asked for and no continue has come: readers beside the loop rest too.
    bool PauseRequested() const;

    // The loop, at its start: forgets the requests made before it (a stop made before the socket
    // was up is lost, as callers expect).
    void Reset();
    // The loop, before each read: false when it should end. While a pause holds, rests here,
    // looking again at least every restMs, so that no wait lasts for ever.
    bool BeforeRead(unsigned restMs = 1000);
    // The loop, as it ends: no longer paused.
    void Ended();

private:
    mutable std::mutex m_lock;
    std::condition_variable m_changed;
    std::atomic<bool> m_asked{false};  // a pause or a stop waits: the loop looks under the lock
    bool m_pause = false;
    bool m_stop = false;
    bool m_resting = false;
};
