// The TCP input's settings, read from the settings key when the service starts, and its log.
#pragma once

constexpr const char* kTcpPortValue = "TcpPort";
constexpr const char* kTcpMaxConnectionsValue = "TcpMaxConnections";
constexpr const char* kTcpIdleSecondsValue = "TcpIdleSeconds";
constexpr unsigned kDefaultTcpMaxConnections = 200;
constexpr unsigned kMostTcpMaxConnections = 10000;
constexpr unsigned kDefaultTcpIdleSeconds = 600;
constexpr unsigned kMostTcpIdleSeconds = 86400;

struct TcpSettings {
    int port;  // 0: no TCP
    unsigned maxConnections;
    unsigned idleSeconds;
};

TcpSettings CurrentTcpSettings();
// One line to the service's error log, when it gave a writer.
void WriteTcpLog(const char* line);
