#include "registry_values.h"

#include <cstdint>

#include "ovwin/handles.h"
#include "ovwin/registry_number.h"
#include "ovwin/registry_text.h"
#include "multi_sz.h"

using namespace ovwin;

namespace orvane_components {
namespace {

constexpr const char* kUpdateMutexName = "OrvaneComponentsStandInRegistry";

bool QueryRaw(const char* key, const char* name, DWORD wantType, std::string* out) {
    DWORD type = 0;
    std::string data;
    if (!ReadRegData(HKEY_LOCAL_MACHINE, key, name, &data, &type) || type != wantType) return false;
    *out = data;
    return true;
}

bool SetRaw(const char* key, const char* name, DWORD type, const void* data, size_t size) {
    UniqueHkey k;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_SET_VALUE, nullptr, k.put(), nullptr) !=
        ERROR_SUCCESS)
        return false;
    return RegSetValueExA(k.get(), name, 0, type, static_cast<const BYTE*>(data), static_cast<DWORD>(size)) ==
           ERROR_SUCCESS;
}

}  // namespace

bool ReadString(const char* key, const char* name, std::string* out) {
    std::string data;
    if (!QueryRaw(key, name, REG_SZ, &data)) return false;
    data.resize(strnlen(data.c_str(), data.size()));  // stored data need not end in NUL
    *out = data;
    return true;
}

bool ReadDword(const char* key, const char* name, DWORD* out) {
    std::uint64_t value = 0;
    if (!ReadRegStoredNumber(HKEY_LOCAL_MACHINE, key, name, REG_DWORD, &value)) return false;
    *out = static_cast<DWORD>(value);
    return true;
}

std::vector<std::string> ReadMultiSz(const char* key, const char* name) {
    std::string data;
    if (!QueryRaw(key, name, REG_MULTI_SZ, &data)) return {};
    return ParseMultiSz(data.data(), data.size());
}

bool WriteDword(const char* key, const char* name, DWORD value) {
    return SetRaw(key, name, REG_DWORD, &value, sizeof(value));
}

bool WriteMultiSz(const char* key, const char* name, const std::vector<std::string>& strings) {
    std::string data = FormatMultiSz(strings);
    return SetRaw(key, name, REG_MULTI_SZ, data.data(), data.size());
}

bool KeyExists(HKEY root, const std::string& key) {
    UniqueHkey k;
    return RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, k.put()) == ERROR_SUCCESS;
}

RegistryUpdateLock::RegistryUpdateLock()
    : mutex_(CreateMutexA(nullptr, FALSE, kUpdateMutexName)), lock_(mutex_.get()) {}

}  // namespace orvane_components
