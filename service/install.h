// Installing and removing the service from a console, and the console's usage text.
#pragma once

#include "ovwin/service_wait.h"

// How long a removal waits for a running service to stop: a first second, then up to six more.
constexpr ovwin::ServicePolling kStopPolling = {1000, 6};

bool InstallService();
bool UninstallService();
void PrintUsage();

// What the first argument asks for.
enum class Switch { kUsage, kInstall, kUninstall, kConsole, kStatistics };
Switch ParseSwitch(const char* argument);
