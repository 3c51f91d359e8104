// The "Services Manager" dialog: both services' ports, the syslog port's storage, and start and
// stop of both services.
#pragma once

#include <windows.h>

#include <string>

#include "dialog_base.h"
#include "scm_client.h"

namespace sentrydesk {

// The captions of one service's start/stop button.
struct ServiceButton {
    const char* service;
    const char* stopCaption;
    const char* startCaption;
};

extern const ServiceButton kTrapButton;
extern const ServiceButton kSyslogButton;

class CServiceMgrDlg : public DialogBase {
public:
    explicit CServiceMgrDlg(HWND parent);
    ~CServiceMgrDlg() override;

    static DWORD QueryServiceState(const char* name);
    static bool StartServiceAndWait(const char* name);
    static bool StopServiceAndWait(const char* name);

    ControlWindow m_btnSyslog;
    ControlWindow m_btnTrap;
    ControlWindow m_editSyslogPort;
    ControlWindow m_editTrapPort;
    unsigned m_nSyslogPort;
    unsigned m_nTrapPort;

protected:
    void DoDataExchange(DataExchange* dx) override;
    BOOL OnInitDialog() override;
    void OnCancel() override;
    bool OnCommand(WORD id, WORD code) override;

    BOOL LoadPorts();
    void OnApply();
    void OnTrapService();
    void OnSyslogService();

private:
    void ToggleService(const ControlWindow& button, const ServiceButton& texts);
};

// The caption that shows a service's state: the stop caption while it runs or is starting.
const char* CaptionForState(const ServiceButton& texts, DWORD state);
// The message after a failed start or stop; empty when the operation succeeded.
std::string FailureMessage(const ServiceButton& texts, bool stopping, ServiceOutcome outcome);

}  // namespace sentrydesk
