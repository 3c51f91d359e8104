// Registration of the class and the type library, with the announcement to the suite.
#pragma once

#include <windows.h>

namespace sentrydesk {

// The class-table registration routine of CServiceMgr.
HRESULT WINAPI UpdateServiceMgrRegistry(BOOL doRegister);

}  // namespace sentrydesk
