#include "reg_tree.h"

#include "ovwin/handles.h"

namespace sentrydesk {
namespace {

constexpr DWORD kMaxKeyName = 256;

}  // namespace

LONG DeleteKeyTree(HKEY parent, const char* name) {
    {
        ovwin::UniqueHkey key;
        LONG error = RegOpenKeyExA(parent, name, 0, KEY_READ | KEY_WRITE, key.put());
        if (error != ERROR_SUCCESS) return error;
        char child[kMaxKeyName + 1];
        DWORD length = sizeof child;
        while (RegEnumKeyExA(key.get(), 0, child, &length, nullptr, nullptr, nullptr, nullptr) ==
               ERROR_SUCCESS) {
            error = DeleteKeyTree(key.get(), child);
            if (error != ERROR_SUCCESS) return error;
            length = sizeof child;
        }
    }
    return RegDeleteKeyA(parent, name);
}

}  // namespace sentrydesk
