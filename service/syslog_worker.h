// The worker that runs the receive loop, and the callback that forwards each message.
#pragma once

#include "OVSyslog.h"

// Status codes stored in the registry.
constexpr int kStatusStarted = 0;
constexpr int kStatusSocketLibFailed = 100;
constexpr int kStatusSocketFailed = 101;
constexpr int kStatusBindFailed = 102;
constexpr int kStatusTcpBindFailed = 103;

constexpr unsigned kWorkerGaveUp = static_cast<unsigned>(-1);
constexpr unsigned kMessageDropped = static_cast<unsigned>(-1);

unsigned __stdcall SyslogWorker(void* unused);
unsigned OnSyslogMessage(CSyslogMinitor* message);
