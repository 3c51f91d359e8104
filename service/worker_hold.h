// Holding a thread still, and ending it, from outside without leaving a lock taken.
#pragma once

#include <windows.h>

// Suspends the thread where it holds no lock that other threads share and waits in no queue of
// theirs: in the program's own code, or inside one of the system's plain waits. Elsewhere it is
// let run a moment and looked at again. Waits while the thread is inside the hold gate; false
// when the thread has ended meanwhile.
bool HoldThread(HANDLE thread);
void ReleaseThread(HANDLE thread);
// Holds the thread as above, then terminates it and waits until it has ended.
void EndThread(HANDLE thread);

// Stretches of the worker's run that must never be frozen or cut off: they take locks other than
// the heaps' (the service manager's and the registry's calls, the thread's own ending). A hold
// waits until the worker is outside again.
namespace HoldGate {
void Enter();
void Leave();
}  // namespace HoldGate
