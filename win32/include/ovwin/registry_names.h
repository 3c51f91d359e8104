// Where the syslog and trap services keep their settings (root HKEY_LOCAL_MACHINE), and the
// services' names: read by the receiver library, the service, the console add-in and the trap
// service's stand-in.
#pragma once

namespace ovwin {

constexpr const char* kSyslogKey = "Software\\Telmora\\Orvane\\OVSyslog";
constexpr const char* kTrapKey = "Software\\Telmora\\Orvane\\OVTrap";
constexpr const char* kPortValue = "AuthPort";
constexpr const char* kStatusValue = "Status";
// The UDP socket's receive buffer in bytes (REG_DWORD, REG_QWORD or decimal text), which holds a
// burst while the one reader catches up; missing or empty means the default, a value outside the
// bounds is refused for the default.
constexpr const char* kRecvBufferValue = "RecvBufferSize";
constexpr unsigned long kDefaultRecvBufferBytes = 64ul * 1024 * 1024;
constexpr unsigned long kMinRecvBufferBytes = 64ul * 1024;
constexpr unsigned long kMaxRecvBufferBytes = 1024ul * 1024 * 1024;

// What an empty or missing AuthPort means.
constexpr int kDefaultSyslogPort = 514;
constexpr int kDefaultTrapPort = 162;
constexpr const char* kDefaultSyslogPortText = "514";
constexpr const char* kDefaultTrapPortText = "162";

constexpr const char* kSyslogService = "OVSyslog";
constexpr const char* kTrapService = "OVTrap";

}  // namespace ovwin
