// The add-in as a client of the service control manager: start, stop and state query of a
// Windows service by name.
#pragma once

#include <windows.h>

#include "ovwin/service_wait.h"

namespace sentrydesk {

// How a start or stop ended, so that the dialog can say why it failed.
enum class ServiceOutcome {
    Done,          // the service reached (or is still moving to) the wanted state
    NoAccess,      // the manager or the service could not be opened or queried
    Refused,       // the manager refused the request
    StoppedAgain,  // a start was accepted but the service stopped again
    NotStopped,    // a stop was accepted but the service did not stop
};

constexpr ovwin::ServicePolling kServiceTiming = {1000, 5};
constexpr DWORD kServiceStateUnknown = 0;

DWORD QueryServiceStateOf(const char* name);
ServiceOutcome StartServiceOutcome(const char* name, ovwin::ServicePolling timing = kServiceTiming);
ServiceOutcome StopServiceOutcome(const char* name, ovwin::ServicePolling timing = kServiceTiming);

}  // namespace sentrydesk
