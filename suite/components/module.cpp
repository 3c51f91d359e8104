// DllMain and the in-process server's object count.
#include "module.h"

#include <atomic>

namespace orvane_components {
namespace {
HINSTANCE g_instance = nullptr;
std::atomic<long> g_users{0};
}  // namespace

HINSTANCE ModuleInstance() { return g_instance; }
void ModuleAddRef() { ++g_users; }
void ModuleRelease() { --g_users; }
bool ModuleInUse() { return g_users.load() != 0; }

void SetModuleInstance(HINSTANCE instance) { g_instance = instance; }

}  // namespace orvane_components

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        orvane_components::SetModuleInstance(instance);
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}
