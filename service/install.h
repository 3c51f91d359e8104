// Installing and removing the service from a console, and the console's usage text.
#pragma once

constexpr unsigned long kStopPollMs = 1000;
constexpr unsigned long kStopPollLimitMs = 5000;

bool InstallService();
bool UninstallService();
void PrintUsage();

// What the first argument asks for.
enum class Switch { kUsage, kInstall, kUninstall, kConsole };
Switch ParseSwitch(const char* argument);
