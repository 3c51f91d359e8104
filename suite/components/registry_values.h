// The few registry reads and writes the components need, each opening and closing its own key.
#pragma once

#include <windows.h>

#include "ovwin/handles.h"
#include "ovwin/locks.h"

#include <string>
#include <vector>

namespace orvane_components {

// False when the key or value is missing or of another type.
bool ReadString(const char* key, const char* name, std::string* out);
bool ReadDword(const char* key, const char* name, DWORD* out);
std::vector<std::string> ReadMultiSz(const char* key, const char* name);
// These create the key when it is missing.
bool WriteDword(const char* key, const char* name, DWORD value);
bool WriteMultiSz(const char* key, const char* name, const std::vector<std::string>& strings);
bool KeyExists(HKEY root, const std::string& key);

// Serialises read-modify-write updates across threads and processes.
class RegistryUpdateLock {
public:
    RegistryUpdateLock();
    bool held() const { return lock_.held(); }

private:
    ovwin::UniqueHandleT mutex_;  // declared first: opened before the lock, closed after it
    ovwin::MutexLock lock_;
};

}  // namespace orvane_components
