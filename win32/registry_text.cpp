#include "ovwin/registry_text.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "ovwin/handles.h"

namespace ovwin {
namespace {

constexpr DWORD kValueBufferSize = 1024;

}  // namespace

bool ReadRegData(HKEY root, const char* subKey, const char* valueName, std::string* data, DWORD* storedType) {
    ovwin::UniqueHkey key;
    if (RegOpenKeyExA(root, subKey, 0, KEY_READ, key.put()) != ERROR_SUCCESS) return false;
    DWORD type = 0, size = 0;
    if (RegQueryValueExA(key.get(), valueName, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return false;
    std::vector<char> bytes;
    LONG read = ERROR_MORE_DATA;
    // Someone may write a longer value between the calls; take the new size a few times.
    for (int tries = 0; read == ERROR_MORE_DATA && tries < 4; ++tries) {
        bytes.assign(size + 1, '\0');
        read = RegQueryValueExA(key.get(), valueName, nullptr, &type, reinterpret_cast<BYTE*>(bytes.data()),
                                &size);
    }
    if (read != ERROR_SUCCESS) return false;
    data->assign(bytes.data(), size);
    *storedType = type;
    return true;
}

bool ReadRegText(HKEY root, const char* subKey, const char* valueName, std::string* text, DWORD* storedType) {
    std::string data;
    DWORD type = 0;
    if (!ReadRegData(root, subKey, valueName, &data, &type)) return false;
    if (type == REG_DWORD && data.size() == sizeof(DWORD)) {
        DWORD number;
        std::memcpy(&number, data.data(), sizeof number);
        *text = std::to_string(static_cast<unsigned long>(number));
    } else {
        *text = std::string(data.data(), strnlen(data.data(), data.size()));
    }
    if (storedType != nullptr) *storedType = type;
    return true;
}

const char* GetRegInfo(HKEY root, const char* subKey, const char* valueName) {
    static thread_local char text[kValueBufferSize + 1];
    text[0] = '\0';
    std::string value;
    if (ReadRegText(root, subKey, valueName, &value) && value.size() < kValueBufferSize)
        std::memcpy(text, value.c_str(), value.size() + 1);
    return text;
}

int SetValueName(HKEY root, const char* subKey, unsigned long type, const char* valueName, const char* data) {
    if (type != REG_DWORD && type != REG_SZ) return 0;
    if (data == nullptr) data = "";

    ovwin::UniqueHkey key;
    if (RegOpenKeyExA(root, subKey, 0, KEY_WRITE, key.put()) != ERROR_SUCCESS) return 0;

    LONG written;
    if (type == REG_DWORD) {
        DWORD number = static_cast<DWORD>(std::atol(data));
        written = RegSetValueExA(key.get(), valueName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                                 sizeof number);
    } else {
        written = RegSetValueExA(key.get(), valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(data),
                                 static_cast<DWORD>(std::strlen(data) + 1));
    }
    return written == ERROR_SUCCESS ? 1 : 0;
}

}  // namespace ovwin
