#include "service_mgr_dlg.h"

#include <cstdio>
#include <string>

#include "data_exchange.h"
#include "module.h"
#include "ovwin/number_text.h"
#include "ovwin/registry_names.h"
#include "ovwin/registry_text.h"
#include "resource.h"

namespace sentrydesk {
namespace {

constexpr unsigned kMinPort = static_cast<unsigned>(ovwin::kMinPort);
constexpr unsigned kMaxPort = static_cast<unsigned>(ovwin::kMaxPort);
constexpr int kNoticeSize = 256;

constexpr const char* kBadPort =
    "The syslog UDP port must be a whole number from 1 to 65535, or empty for the default 514.\n"
    "Nothing was saved.";
std::string NotSavedMessage() {
    return std::string("The syslog UDP port was not saved: the registry key HKEY_LOCAL_MACHINE\\") +
           ovwin::kSyslogKey + " is missing or cannot be written.";
}

}  // namespace

const ServiceButton kTrapButton = {ovwin::kTrapService, "Stop Trap Service", "Start Trap Service"};
const ServiceButton kSyslogButton = {ovwin::kSyslogService, "Stop Syslog Service", "Start Syslog Service"};

const char* CaptionForState(const ServiceButton& texts, DWORD state) {
    return state == SERVICE_RUNNING || state == SERVICE_START_PENDING ? texts.stopCaption
                                                                      : texts.startCaption;
}

std::string FailureMessage(const ServiceButton& texts, bool stopping, ServiceOutcome outcome) {
    std::string name = texts.service;
    switch (outcome) {
    case ServiceOutcome::Done:
        return std::string();
    case ServiceOutcome::NoAccess:
        return "The service " + name +
               " cannot be reached: it is not installed, or you may not control services.";
    case ServiceOutcome::Refused:
        return "The service manager refused to " + std::string(stopping ? "stop" : "start") +
               " the service " + name + ".";
    case ServiceOutcome::StoppedAgain:
        return "The service " + name +
               " started but stopped again at once. Its UDP port may be in use by another "
               "program.";
    case ServiceOutcome::NotStopped:
        return "The service " + name + " did not stop.";
    }
    return std::string();
}

CServiceMgrDlg::CServiceMgrDlg(HWND parent)
    : DialogBase(IDD_SERVICES, parent),
      m_nSyslogPort(ovwin::kDefaultSyslogPort),
      m_nTrapPort(ovwin::kDefaultTrapPort) {}

CServiceMgrDlg::~CServiceMgrDlg() = default;

void CServiceMgrDlg::DoDataExchange(DataExchange* dx) {
    DDX_Control(dx, IDC_SYSLOG_SERVICE, m_btnSyslog);
    DDX_Control(dx, IDC_TRAP_SERVICE, m_btnTrap);
    DDX_Control(dx, IDC_SYSLOG_PORT, m_editSyslogPort);
    DDX_Control(dx, IDC_TRAP_PORT, m_editTrapPort);
    DDX_Text(dx, IDC_SYSLOG_PORT, m_nSyslogPort);
    DDV_MinMaxUInt(dx, m_nSyslogPort, kMinPort, kMaxPort);
    DDX_Text(dx, IDC_TRAP_PORT, m_nTrapPort);
    DDV_MinMaxUInt(dx, m_nTrapPort, kMinPort, kMaxPort);
}

BOOL CServiceMgrDlg::OnInitDialog() {
    DialogBase::OnInitDialog();
    HICON icon = LoadIconA(ModuleInstance(), MAKEINTRESOURCEA(IDI_SERVICES));
    SendMessageA(hwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    LoadPorts();
    m_editTrapPort.Enable(false);
    m_btnTrap.SetText(CaptionForState(kTrapButton, QueryServiceState(ovwin::kTrapService)));
    m_btnSyslog.SetText(CaptionForState(kSyslogButton, QueryServiceState(ovwin::kSyslogService)));
    return TRUE;
}

BOOL CServiceMgrDlg::LoadPorts() {
    // A missing value and an empty one both show the default.
    std::string syslog, trap;
    ovwin::ReadRegText(HKEY_LOCAL_MACHINE, ovwin::kSyslogKey, ovwin::kPortValue, &syslog);
    m_editSyslogPort.SetText(syslog.empty() ? ovwin::kDefaultSyslogPortText : syslog.c_str());
    ovwin::ReadRegText(HKEY_LOCAL_MACHINE, ovwin::kTrapKey, ovwin::kPortValue, &trap);
    m_editTrapPort.SetText(trap.empty() ? ovwin::kDefaultTrapPortText : trap.c_str());
    return TRUE;
}

void CServiceMgrDlg::OnCancel() { DialogBase::OnCancel(); }

bool CServiceMgrDlg::OnCommand(WORD id, WORD code) {
    if (code != BN_CLICKED) return false;
    switch (id) {
    case IDC_TRAP_SERVICE:
        OnTrapService();
        return true;
    case IDC_SYSLOG_SERVICE:
        OnSyslogService();
        return true;
    case IDC_APPLY:
        OnApply();
        return true;
    default:
        return false;
    }
}

// Stores only a valid port, as its digits; an empty text means the default.
void CServiceMgrDlg::OnApply() {
    std::string text = m_editSyslogPort.GetText();
    std::string stored;
    int port = 0;
    if (ovwin::ParsePortText(text.c_str(), &port)) {
        stored = std::to_string(port);
    } else if (!ovwin::IsBlankText(text.c_str())) {
        ShowMessage(kBadPort, MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    if (!ovwin::SetValueName(HKEY_LOCAL_MACHINE, ovwin::kSyslogKey, REG_SZ, ovwin::kPortValue,
                             stored.c_str())) {
        ShowMessage(NotSavedMessage().c_str(), MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    char notice[kNoticeSize] = {};
    LoadStringA(ModuleInstance(), IDS_RESTART_NOTICE, notice, kNoticeSize);
    ShowMessage(notice, MB_OK);
}

void CServiceMgrDlg::OnTrapService() { ToggleService(m_btnTrap, kTrapButton); }

void CServiceMgrDlg::OnSyslogService() { ToggleService(m_btnSyslog, kSyslogButton); }

// The caption says what the button will do; after the operation it follows the state reached.
void CServiceMgrDlg::ToggleService(const ControlWindow& button, const ServiceButton& texts) {
    bool stopping = button.GetText() == texts.stopCaption;
    ServiceOutcome outcome =
        stopping ? StopServiceOutcome(texts.service) : StartServiceOutcome(texts.service);
    DWORD state = QueryServiceState(texts.service);
    if (outcome == ServiceOutcome::Done || state != kServiceStateUnknown)
        button.SetText(CaptionForState(texts, state));
    std::string message = FailureMessage(texts, stopping, outcome);
    if (!message.empty()) ShowMessage(message.c_str(), MB_OK | MB_ICONEXCLAMATION);
}

DWORD CServiceMgrDlg::QueryServiceState(const char* name) { return QueryServiceStateOf(name); }

bool CServiceMgrDlg::StartServiceAndWait(const char* name) {
    return StartServiceOutcome(name) == ServiceOutcome::Done;
}

bool CServiceMgrDlg::StopServiceAndWait(const char* name) {
    return StopServiceOutcome(name) == ServiceOutcome::Done;
}

}  // namespace sentrydesk
