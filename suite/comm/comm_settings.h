// The stand-in's behaviour, from the registry; tests change it while the service runs.
#pragma once

#include <windows.h>

#include <string>

namespace orvane_comm {

constexpr const char* kSettingsKey = "Software\\Telmora\\Orvane\\StandIn\\Comm";
constexpr const char* kOutboxDirValue = "OutboxDir";
constexpr const char* kRefuseFirstValue = "RefuseFirst";
constexpr const char* kRefuseAllValue = "RefuseAll";
constexpr const char* kDelayMsValue = "DelayMs";
constexpr const char* kDelayHostValue = "DelayHost";                // when set, only this host's records wait
constexpr const char* kDelayDestinationValue = "DelayDestination";  // when set, only its records wait
constexpr const char* kRefuseDestinationValue = "RefuseDestination";  // when set, refused always
constexpr const char* kDefaultOutboxDir = "C:\\OrvaneOutbox";
// A delay beyond this is taken as this: a stray value must not hang the caller's thread for ever.
constexpr DWORD kMaxDelayMs = 60000;

struct CommSettings {
    std::string outboxDir = kDefaultOutboxDir;
    DWORD refuseFirst = 0;
    bool refuseAll = false;
    DWORD delayMs = 0;
    std::string delayHost;          // empty: every record waits delayMs
    std::string delayDestination;   // empty: records for every destination wait
    std::string refuseDestination;  // empty: none refused for its name
};

// Missing key, missing values and values of the wrong type all give the defaults.
CommSettings ReadCommSettings();

// The settings as they stand now: read again only after something in the registry changed.
CommSettings CurrentCommSettings();

}  // namespace orvane_comm
