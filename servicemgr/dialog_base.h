// The least dialog layer the services dialog needs, on user32: a modal dialog from this module's
// resources, command routing, and a data exchange between fields and controls.
#pragma once

#include <windows.h>

#include <string>

namespace sentrydesk {

class DataExchange;

// A control of the running dialog, bound by DDX_Control.
class ControlWindow {
public:
    HWND hwnd() const { return hwnd_; }
    void Attach(HWND hwnd) { hwnd_ = hwnd; }
    std::string GetText() const;
    void SetText(const char* text) const;
    void Enable(bool enable) const;

private:
    HWND hwnd_ = nullptr;
};

class DialogBase {
public:
    DialogBase(UINT templateId, HWND parent);
    virtual ~DialogBase();
    DialogBase(const DialogBase&) = delete;
    DialogBase& operator=(const DialogBase&) = delete;

    // Runs the dialog modally from this module's template; IDOK, IDCANCEL or -1.
    INT_PTR DoModal();
    HWND hwnd() const { return hwnd_; }

    // Runs the data exchange: load (false) fills the controls, save (true) reads and validates
    // them. False when validation failed; the focus is then on the offending control.
    bool UpdateData(bool save);

protected:
    virtual void DoDataExchange(DataExchange* dx);
    virtual BOOL OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();
    // The derived dialog's command map; true when it handled the command.
    virtual bool OnCommand(WORD id, WORD code);

    void EndDialog(INT_PTR result);
    // A message box owned by the dialog, with the module's caption.
    int ShowMessage(const char* text, UINT type) const;

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    void RouteCommand(WORD id, WORD code);

    UINT templateId_;
    HWND parent_;
    HWND hwnd_ = nullptr;
};

}  // namespace sentrydesk
