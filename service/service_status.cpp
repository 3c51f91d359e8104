#include "service_status.h"

#include <utility>

namespace {

bool IsPending(DWORD state) {
    return state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING ||
           state == SERVICE_PAUSE_PENDING || state == SERVICE_CONTINUE_PENDING;
}

}  // namespace

DWORD WaitHint(DWORD state) {
    switch (state) {
    case SERVICE_START_PENDING:
        return kStartWaitHintMs;
    case SERVICE_STOP_PENDING:
        return kStopWaitHintMs;
    case SERVICE_PAUSE_PENDING:
    case SERVICE_CONTINUE_PENDING:
        return kPauseWaitHintMs;
    default:
        return 0;
    }
}

CServiceStatus::CServiceStatus(Sender send) : m_send(std::move(send)), m_status() {
    m_status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    m_status.dwCurrentState = SERVICE_STOPPED;
}

void CServiceStatus::Attach(SERVICE_STATUS_HANDLE handle) {
    ovwin::CriticalLock lock(m_lock);
    m_handle = handle;
}

DWORD CServiceStatus::state() {
    ovwin::CriticalLock lock(m_lock);
    return m_status.dwCurrentState;
}

bool CServiceStatus::Report(DWORD state) {
    ovwin::CriticalLock lock(m_lock);
    if (m_status.dwCurrentState != state || !IsPending(state))
        m_status.dwCheckPoint = IsPending(state) ? 1 : 0;
    m_status.dwCurrentState = state;
    // Starting and stopping take no controls, as the service manager expects.
    bool takesControls =
        state != SERVICE_START_PENDING && state != SERVICE_STOP_PENDING && state != SERVICE_STOPPED;
    m_status.dwControlsAccepted = takesControls ? kControlsAccepted : 0;
    bool stopped = state == SERVICE_STOPPED;
    m_status.dwWin32ExitCode = stopped ? m_win32Exit : NO_ERROR;
    m_status.dwServiceSpecificExitCode = stopped ? m_specificExit : 0;
    m_status.dwWaitHint = WaitHint(state);
    return Send();
}

void CServiceStatus::Progress() {
    ovwin::CriticalLock lock(m_lock);
    ++m_status.dwCheckPoint;
    Send();
}

void CServiceStatus::SetExit(DWORD win32Code, DWORD specificCode) {
    ovwin::CriticalLock lock(m_lock);
    m_win32Exit = win32Code;
    m_specificExit = specificCode;
}

bool CServiceStatus::Send() {
    if (m_handle == nullptr) return false;
    return m_send ? m_send(m_handle, m_status) : SetServiceStatus(m_handle, &m_status) != FALSE;
}
