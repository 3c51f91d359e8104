// Drives the add-in's services dialog from another thread of the test process, as an operator
// would: finds it, reads and types into its controls, presses its buttons and answers its
// message boxes.
#pragma once

#include <windows.h>

#include <string>

namespace testing_support {

constexpr const char* kDialogTitle = "Services Manager";
constexpr const char* kMessageTitle = "Sentrydesk";

// Runs Execute of a new add-in instance on a thread of its own until the dialog closes.
class OpenDialog {
public:
    explicit OpenDialog(HMODULE addin);
    ~OpenDialog();
    OpenDialog(const OpenDialog&) = delete;
    OpenDialog& operator=(const OpenDialog&) = delete;

    HWND hwnd() const { return dialog_; }
    HWND Item(int id) const { return GetDlgItem(dialog_, id); }
    std::string Text(int id) const;
    void SetText(int id, const std::string& text) const;
    // Posts a click of a button; the dialog's thread may block in the handler for seconds.
    void Click(int id) const;
    // Waits until the control's text differs from `from`; returns the text then.
    std::string WaitForTextChange(int id, const std::string& from, DWORD timeoutMs) const;
    bool WaitClosed(DWORD timeoutMs);
    HRESULT executeResult() const { return result_; }

private:
    static DWORD WINAPI Run(void* self);
    HMODULE addin_;
    HANDLE thread_ = nullptr;
    HWND dialog_ = nullptr;
    HRESULT result_ = S_OK;
};

// Waits for a message box of the add-in, reads its text and presses OK; "" when none came.
std::string AnswerMessageBox(DWORD timeoutMs);

}  // namespace testing_support
