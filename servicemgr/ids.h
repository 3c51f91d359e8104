// Identifiers, resource ids and texts of the add-in, named once.
#pragma once

#include <windows.h>

namespace sentrydesk {

extern const CLSID kClsidServiceMgr;
extern const IID kIidServiceMgr;
extern const GUID kLibidSentrydesk;
extern const GUID kLibidConsole;
constexpr WORD kLibMajor = 1;
constexpr WORD kLibMinor = 0;

constexpr const char* kProgId = "OVCoreLib.CServiceMgr.1";
constexpr const char* kVersionIndependentProgId = "OVCoreLib.CServiceMgr";
constexpr const char* kThreadingModel = "both";

// The local-system component that hears of every class at registration.
extern const CLSID kClsidLocalSystem;
extern const IID kIidLocalSystem;
constexpr DWORD kLocalSystemContext = 23;  // in-process server and handler, local, remote
constexpr long kAnnounceValue = 1;

}  // namespace sentrydesk
