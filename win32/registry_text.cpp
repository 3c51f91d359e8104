#include "ovwin/registry_text.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ovwin/handles.h"

namespace ovwin {
namespace {

constexpr DWORD kValueBufferSize = 1024;

}  // namespace

const char* GetRegInfo(HKEY root, const char* subKey, const char* valueName) {
    // One extra byte keeps the text terminated even when the value fills the whole buffer.
    static thread_local char text[kValueBufferSize + 1];
    text[0] = '\0';

    UniqueHkey key;
    if (RegOpenKeyExA(root, subKey, 0, KEY_READ, key.put()) != ERROR_SUCCESS) return text;

    char buffer[kValueBufferSize + 1] = {};
    DWORD type = 0;
    DWORD size = kValueBufferSize;
    if (RegQueryValueExA(key.get(), valueName, nullptr, &type, reinterpret_cast<BYTE*>(buffer),
                         &size) != ERROR_SUCCESS)
        return text;

    if (type == REG_DWORD && size == sizeof(DWORD)) {
        DWORD number;
        std::memcpy(&number, buffer, sizeof number);
        std::snprintf(text, sizeof text, "%lu", static_cast<unsigned long>(number));
    } else {
        std::memcpy(text, buffer, kValueBufferSize);
        text[kValueBufferSize] = '\0';
    }
    return text;
}

int SetValueName(HKEY root, const char* subKey, unsigned long type, const char* valueName,
                 const char* data) {
    if (type != REG_DWORD && type != REG_SZ) return 0;
    if (data == nullptr) data = "";

    UniqueHkey key;
    if (RegOpenKeyExA(root, subKey, 0, KEY_WRITE, key.put()) != ERROR_SUCCESS) return 0;

    LONG written;
    if (type == REG_DWORD) {
        DWORD number = static_cast<DWORD>(std::atol(data));
        written = RegSetValueExA(key.get(), valueName, 0, REG_DWORD,
                                 reinterpret_cast<const BYTE*>(&number), sizeof number);
    } else {
        written = RegSetValueExA(key.get(), valueName, 0, REG_SZ,
                                 reinterpret_cast<const BYTE*>(data),
                                 static_cast<DWORD>(std::strlen(data) + 1));
    }
    return written == ERROR_SUCCESS ? 1 : 0;
}

}  // namespace ovwin
