#include "comm_settings.h"

#include <cstdint>

#include "ovwin/handles.h"
#include "ovwin/registry_number.h"
#include "ovwin/registry_text.h"
#include "registry_watch.h"

using namespace ovwin;

namespace orvane_comm {
namespace {

bool ReadDword(HKEY key, const char* name, DWORD* out) {
    std::uint64_t value = 0;
    if (!ReadRegStoredNumber(key, nullptr, name, REG_DWORD, &value)) return false;
    *out = static_cast<DWORD>(value);
    return true;
}

bool ReadString(HKEY key, const char* name, std::string* out) {
    DWORD type = 0;
    std::string text;
    if (!ReadRegText(key, nullptr, name, &text, &type) || (type != REG_SZ && type != REG_EXPAND_SZ))
        return false;
    *out = text;
    return true;
}

}  // namespace

CommSettings ReadCommSettings() {
    CommSettings s;
    UniqueHkey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_READ, key.put()) != ERROR_SUCCESS) return s;
    std::string dir;
    if (ReadString(key.get(), kOutboxDirValue, &dir) && !dir.empty()) s.outboxDir = dir;
    ReadDword(key.get(), kRefuseFirstValue, &s.refuseFirst);
    DWORD all = 0;
    if (ReadDword(key.get(), kRefuseAllValue, &all)) s.refuseAll = all != 0;
    ReadDword(key.get(), kDelayMsValue, &s.delayMs);
    ReadString(key.get(), kDelayHostValue, &s.delayHost);
    ReadString(key.get(), kDelayDestinationValue, &s.delayDestination);
    ReadString(key.get(), kRefuseDestinationValue, &s.refuseDestination);
    if (s.delayMs > kMaxDelayMs) s.delayMs = kMaxDelayMs;
    return s;
}

CommSettings CurrentCommSettings() {
    static orvane::WatchedSettings<CommSettings, ReadCommSettings> settings;
    return settings.Get();
}

}  // namespace orvane_comm
