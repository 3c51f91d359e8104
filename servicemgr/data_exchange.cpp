#include "data_exchange.h"

#include <cstdio>
#include <string>

#include "dialog_base.h"
#include "ovwin/number_text.h"

namespace sentrydesk {
namespace {

constexpr const char* kNotUnsigned = "Please enter a whole number (digits only).";

std::string DialogItemText(HWND control) {
    int length = GetWindowTextLengthA(control);
    std::string text(static_cast<size_t>(length) + 1, '\0');
    GetWindowTextA(control, &text[0], length + 1);
    text.resize(static_cast<size_t>(length));
    return text;
}

}  // namespace

HWND DataExchange::PrepareControl(int id) {
    lastControl_ = GetDlgItem(dialog_, id);
    return lastControl_;
}

void DataExchange::Fail(const char* message) {
    MessageBoxA(dialog_, message, kMessageCaption, MB_OK | MB_ICONEXCLAMATION);
    if (lastControl_) {
        SetFocus(lastControl_);
        SendMessageA(lastControl_, EM_SETSEL, 0, -1);
    }
    failed_ = true;
}

void DDX_Control(DataExchange* dx, int id, ControlWindow& control) {
    if (dx->failed()) return;
    if (control.hwnd() == nullptr) control.Attach(GetDlgItem(dx->dialog(), id));
}

void DDX_Text(DataExchange* dx, int id, unsigned& value) {
    if (dx->failed()) return;
    HWND control = dx->PrepareControl(id);
    if (!dx->saving()) {
        char text[16];
        std::snprintf(text, sizeof text, "%u", value);
        SetWindowTextA(control, text);
        return;
    }
    unsigned parsed = 0;
    if (!ovwin::ParseUnsignedText(DialogItemText(control).c_str(), &parsed)) {
        dx->Fail(kNotUnsigned);
        return;
    }
    value = parsed;
}

void DDV_MinMaxUInt(DataExchange* dx, unsigned value, unsigned min, unsigned max) {
    if (dx->failed() || !dx->saving()) return;
    if (value >= min && value <= max) return;
    char message[96];
    std::snprintf(message, sizeof message, "Please enter a number from %u to %u.", min, max);
    dx->Fail(message);
}

}  // namespace sentrydesk
