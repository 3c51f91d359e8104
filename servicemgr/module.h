// The add-in's one module record, its class table and the module lock count.
#pragma once

#include "atl_module.h"

namespace sentrydesk {

// The ATL part comes first and is what ATL.DLL sees; the LIBID follows it.
struct Module {
    atl30::ModuleRecord atl;
    GUID libid;
};

Module& TheModule();
HINSTANCE ModuleInstance();

void LockModule();
void UnlockModule();
LONG ModuleLockCount();

}  // namespace sentrydesk
