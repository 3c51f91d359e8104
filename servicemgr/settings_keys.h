// Registry layout the dialog shares with the receiver library and the trap service (root
// HKEY_LOCAL_MACHINE). Repeated here: the library's public header declares its imported classes.
#pragma once

namespace sentrydesk {

constexpr const char* kSyslogKey = "Software\\Telmora\\Orvane\\OVSyslog";
constexpr const char* kTrapKey = "Software\\Telmora\\Orvane\\OVTrap";
constexpr const char* kPortValue = "AuthPort";
constexpr const char* kDefaultSyslogPort = "514";
constexpr const char* kDefaultTrapPort = "162";
constexpr unsigned kDefaultSyslogPortNumber = 514;
constexpr unsigned kDefaultTrapPortNumber = 162;

constexpr const char* kSyslogService = "OVSyslog";
constexpr const char* kTrapService = "OVTrap";

}  // namespace sentrydesk
