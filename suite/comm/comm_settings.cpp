#include "comm_settings.h"

#include "ovwin/handles.h"
#include "registry_watch.h"

using namespace ovwin;

namespace orvane_comm {
namespace {

bool ReadDword(HKEY key, const char* name, DWORD* out) {
  DWORD type = 0, value = 0, size = sizeof(value);
  if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) !=
          ERROR_SUCCESS ||
      type != REG_DWORD || size != sizeof(value))
    return false;
  *out = value;
  return true;
}

bool ReadString(HKEY key, const char* name, std::string* out) {
  DWORD type = 0, size = 0;
  if (RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ))
    return false;
  std::string text(size + 1, '\0');
  if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&text[0]), &size) !=
      ERROR_SUCCESS)
    return false;
  text.resize(strnlen(text.c_str(), size));  // stored data need not end in NUL
  *out = text;
  return true;
}

}  // namespace

CommSettings ReadCommSettings() {
  CommSettings s;
  UniqueHkey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_READ, key.put()) != ERROR_SUCCESS)
    return s;
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
