// Names and limits shared by the package's custom actions.
#pragma once

#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include <string>

#include "ovwin/registry_names.h"
#include "ovwin/service_wait.h"

namespace ovsetup {

constexpr const char* kServiceName = ovwin::kSyslogService;
constexpr const char* kSettingsKey = ovwin::kSyslogKey;
constexpr const char* kPortValue = ovwin::kPortValue;
constexpr const char* kDefaultPort = ovwin::kDefaultSyslogPortText;
constexpr const char* kPortProperty = "SYSLOGPORT";

// A stop may drain for about 20 s; leave room beyond that before calling it stuck.
constexpr DWORD kStopWaitMs = 60000;
constexpr DWORD kStopPollMs = 250;
constexpr ovwin::ServicePolling kStopPolling = {kStopPollMs, kStopWaitMs / kStopPollMs};

// What the rollback of the port write restores: a prefix, then the old text; alone, no value.
// kHadNumber when it was stored as a REG_DWORD, kHadValue for any other type.
constexpr char kHadValue = '=';
constexpr char kHadNumber = '#';

std::string GetProperty(MSIHANDLE install, const char* name);
// The deferred action's data, set by the immediate phase under the action's own name.
std::string ActionData(MSIHANDLE install);
void Log(MSIHANDLE install, const std::string& text);
// Shows the text as an error (logged under /qn) and returns the code that stops the install.
UINT Fail(MSIHANDLE install, const std::string& text);

}  // namespace ovsetup
