#include "forwarding.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "event_record.h"
#include "log_files.h"
#include "ovwin/handles.h"
#include "ovwin/registry_names.h"
#include "ovwin/registry_number.h"
#include "spool_files.h"
#include "suite.h"
#include "tcp_statistics.h"

namespace {

// The counters' value names; a destination's spool adds two values named after it.
constexpr const char* kReceivedValue = "Received";
constexpr const char* kForwardedValue = "Forwarded";
constexpr const char* kRedeliveredValue = "Redelivered";
constexpr const char* kSpooledValue = "Spooled";
constexpr const char* kSpooledBytesValue = "SpooledBytes";
constexpr const char* kBacklogFullValue = "DroppedBacklogFull";
constexpr const char* kSpoolFullValue = "DroppedSpoolFull";
constexpr const char* kGivenUpValue = "GivenUp";
constexpr const char* kSpoolDamagedValue = "SpoolDamaged";
constexpr const char* kTotals[] = {kReceivedValue,  kForwardedValue,    kRedeliveredValue,
                                   kSpooledValue,   kSpooledBytesValue, kBacklogFullValue,
                                   kSpoolFullValue, kGivenUpValue,      kSpoolDamagedValue};

std::atomic<std::uint64_t> g_received{0};

class SuitePlatform : public IStoreForwardPlatform {
public:
    int Deliver(const std::string& destination, const unsigned char* record) override {
        return OrvaneDeliver(destination.c_str(), record);
    }
    // The runtime's generator, never seeded, as the retries have always waited.
    unsigned RetryWaitMs() override { return static_cast<unsigned>(std::rand()) % kRetryWaitModulusMs; }
    void Log(const std::string& line) override { WriteErrorLog(line.c_str()); }
    std::unique_ptr<ISpoolFolder> Folder() override {
        return MakeSpoolFolder(ProgramDirectory() + kSpoolFolderName);
    }
};

// Never destroyed: datagram threads a stop gave up on may still deliver through them.
CStoreAndForward* g_forwarding = nullptr;
CDeliveryQueue* g_queue = nullptr;

std::string StatisticsKey() { return std::string(ovwin::kSyslogKey) + "\\" + kStatisticsSubkey; }

bool SetCount(HKEY key, const std::string& name, std::uint64_t value) {
    return RegSetValueExA(key, name.c_str(), 0, REG_QWORD, reinterpret_cast<const BYTE*>(&value),
                          sizeof value) == ERROR_SUCCESS;
}

}  // namespace

std::uint64_t ReadSpoolMaxBytes(std::string* refused) {
    ovwin::RegNumber stored =
        ovwin::ReadRegNumber(HKEY_LOCAL_MACHINE, ovwin::kSyslogKey, kSpoolMaxValue, kMinSpoolMaxBytes,
                             kMaxSpoolMaxBytes, kSpoolDefaultMaxBytes);
    *refused = stored.refused;
    return stored.value;
}

std::string SpoolMaxRefusedLine(const std::string& refused, std::uint64_t used) {
    char line[200];
    std::snprintf(line, sizeof line, kLogSpoolMaxRefused, refused.substr(0, 32).c_str(),
                  static_cast<unsigned long long>(kMinSpoolMaxBytes),
                  static_cast<unsigned long long>(kMaxSpoolMaxBytes), static_cast<unsigned long long>(used));
    return line;
}

void StartForwarding() {
    if (g_forwarding != nullptr) return;
    std::string refused;
    SpoolLimits limits;
    limits.maxBytes = ReadSpoolMaxBytes(&refused);
    if (!refused.empty()) WriteErrorLog(SpoolMaxRefusedLine(refused, limits.maxBytes).c_str());
    static SuitePlatform platform;
    g_forwarding = new CStoreAndForward(platform, limits);
    g_queue = new CDeliveryQueue(*g_forwarding, platform);
    g_forwarding->Start();
}

void ForwardingStopping() {
    if (g_forwarding == nullptr) return;
    g_forwarding->Stopping();
    g_queue->Stopping();
}

void StopForwarding() {
    if (g_forwarding == nullptr) return;
    // The queue first: what it still holds goes to the spools.
    g_queue->Stop(kQueueStopMs);
    g_forwarding->Stop(kSpoolStopMs);
}

CStoreAndForward* Forwarding() { return g_forwarding; }
CDeliveryQueue* DeliveryQueue() { return g_queue; }
std::uint64_t QueuedRecords() { return g_queue != nullptr ? g_queue->Waiting() : 0; }

void CountReceived() { ++g_received; }

bool WriteStatistics(std::uint64_t droppedBacklogFull) {
    ForwardCounters c = g_forwarding != nullptr ? g_forwarding->Counters() : ForwardCounters();
    std::uint64_t spooled = 0, spooledBytes = 0;
    for (const SpoolCounters& s : c.spools) {
        spooled += s.records;
        spooledBytes += s.bytes;
    }
    ovwin::UniqueHkey key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, StatisticsKey().c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                        key.put(), nullptr) != ERROR_SUCCESS)
        return false;
    const std::uint64_t totals[] = {g_received,         c.forwarded, c.redelivered, spooled,  spooledBytes,
                                    droppedBacklogFull, c.spoolFull, c.givenUp,     c.damaged};
    static_assert(sizeof totals / sizeof totals[0] == sizeof kTotals / sizeof kTotals[0],
                  "a value per counter");
    bool ok = true;
    for (std::size_t i = 0; i < sizeof totals / sizeof totals[0]; ++i)
        ok = SetCount(key.get(), kTotals[i], totals[i]) && ok;
    ok = WriteTcpCounters(key.get()) && ok;
    for (const SpoolCounters& s : c.spools) {
        ok = SetCount(key.get(), std::string(kSpooledValue) + " " + s.destination, s.records) && ok;
        ok = SetCount(key.get(), std::string(kSpooledBytesValue) + " " + s.destination, s.bytes) && ok;
    }
    return ok;
}

bool PrintStatistics() {
    ovwin::UniqueHkey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, StatisticsKey().c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) {
        std::puts("no statistics: the service has not run here yet.");
        return false;
    }
    for (const char* name : kTotals) {
        std::uint64_t value = 0;
        if (ovwin::ReadRegStoredNumber(key.get(), nullptr, name, REG_QWORD, &value))
            std::printf("%s : %llu\n", name, static_cast<unsigned long long>(value));
    }
    PrintTcpCounters(key.get());
    // Then each destination's spool, in the order the registry keeps them.
    const std::string spooled = std::string(kSpooledValue) + " ",
                      bytes = std::string(kSpooledBytesValue) + " ";
    for (DWORD i = 0;; ++i) {
        char name[16384];
        DWORD length = sizeof name;
        std::uint64_t value = 0;
        DWORD type = 0, size = sizeof value;
        LONG result = RegEnumValueA(key.get(), i, name, &length, nullptr, &type,
                                    reinterpret_cast<BYTE*>(&value), &size);
        if (result == ERROR_NO_MORE_ITEMS) break;
        if (result != ERROR_SUCCESS || type != REG_QWORD || size != sizeof value) continue;
        std::string n(name, length);
        if (n.compare(0, spooled.size(), spooled) == 0 || n.compare(0, bytes.size(), bytes) == 0)
            std::printf("%s : %llu\n", n.c_str(), static_cast<unsigned long long>(value));
    }
    std::fflush(stdout);
    return true;
}
