// The delivery function: stores or refuses one record as the registry settings say.
#include <windows.h>

#include <atomic>

#include "OrvaneComm.h"
#include "comm_settings.h"
#include "handles.h"
#include "outbox.h"
#include "outbox_names.h"

using namespace orvane_comm;

namespace {

// Calls made by this process so far; RefuseFirst counts against it.
std::atomic<unsigned long> g_calls{0};

bool ShouldRefuse(const CommSettings& s, unsigned long callNumber) {
  return s.refuseAll || callNumber <= s.refuseFirst;
}

}  // namespace

extern "C" int __cdecl OrvaneDeliver(const char* destination, const unsigned char* record) {
  unsigned long callNumber = ++g_calls;
  CommSettings settings = ReadCommSettings();
  if (settings.delayMs) Sleep(settings.delayMs);

  Outbox outbox(settings.outboxDir);
  if (!outbox.Ensure()) return kRefused;
  orvane::UniqueHandle mutex(CreateMutexA(nullptr, FALSE, kOutboxMutexName));
  orvane::MutexLock lock(mutex.get());
  if (!lock.held()) return kRefused;

  // A record that could not be written whole is refused, so the caller tries again.
  bool stored = record && !ShouldRefuse(settings, callNumber) &&
                outbox.AppendRecord(DestinationStem(destination), record, kRecordSize);
  outbox.AppendCall(CallsLogLine(destination, stored));
  return stored ? kStored : kRefused;
}
