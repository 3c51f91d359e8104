// Module-wide state: the DLL's handle and the count that decides DllCanUnloadNow.
#pragma once

#include <windows.h>

namespace orvane_components {

HINSTANCE ModuleInstance();
// Live objects (components and class factories) plus LockServer locks.
void ModuleAddRef();
void ModuleRelease();
bool ModuleInUse();

}  // namespace orvane_components
