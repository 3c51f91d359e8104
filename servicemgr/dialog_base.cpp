#include "dialog_base.h"

#include <vector>

#include "data_exchange.h"
#include "module.h"

namespace sentrydesk {

std::string ControlWindow::GetText() const {
    int length = GetWindowTextLengthA(hwnd_);
    std::vector<char> text(static_cast<size_t>(length) + 2, '\0');
    GetWindowTextA(hwnd_, text.data(), length + 1);
    return text.data();
}

void ControlWindow::SetText(const char* text) const { SetWindowTextA(hwnd_, text); }

void ControlWindow::Enable(bool enable) const { EnableWindow(hwnd_, enable ? TRUE : FALSE); }

DialogBase::DialogBase(UINT templateId, HWND parent) : templateId_(templateId), parent_(parent) {}

DialogBase::~DialogBase() = default;

INT_PTR DialogBase::DoModal() {
    return DialogBoxParamA(ModuleInstance(), MAKEINTRESOURCEA(templateId_), parent_, &DialogBase::DialogProc,
                           reinterpret_cast<LPARAM>(this));
}

bool DialogBase::UpdateData(bool save) {
    DataExchange dx(hwnd_, save);
    DoDataExchange(&dx);
    return !dx.failed();
}

void DialogBase::DoDataExchange(DataExchange*) {}

BOOL DialogBase::OnInitDialog() {
    UpdateData(false);
    return TRUE;
}

void DialogBase::OnOK() {
    if (UpdateData(true)) EndDialog(IDOK);
}

void DialogBase::OnCancel() { EndDialog(IDCANCEL); }

bool DialogBase::OnCommand(WORD, WORD) { return false; }

void DialogBase::EndDialog(INT_PTR result) { ::EndDialog(hwnd_, result); }

int DialogBase::ShowMessage(const char* text, UINT type) const {
    return MessageBoxA(hwnd_, text, kMessageCaption, type);
}

void DialogBase::RouteCommand(WORD id, WORD code) {
    if (OnCommand(id, code)) return;
    if (id == IDOK && code == BN_CLICKED)
        OnOK();
    else if (id == IDCANCEL && code == BN_CLICKED)
        OnCancel();
}

INT_PTR CALLBACK DialogBase::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* self = reinterpret_cast<DialogBase*>(lParam);
        SetWindowLongPtrA(hwnd, DWLP_USER, lParam);
        self->hwnd_ = hwnd;
        return self->OnInitDialog();
    }
    auto* self = reinterpret_cast<DialogBase*>(GetWindowLongPtrA(hwnd, DWLP_USER));
    if (self == nullptr) return FALSE;
    if (message == WM_COMMAND) {
        self->RouteCommand(LOWORD(wParam), HIWORD(wParam));
        return TRUE;
    }
    if (message == WM_NCDESTROY) self->hwnd_ = nullptr;
    return FALSE;
}

}  // namespace sentrydesk
