#include "data_exchange.h"

#include <cstdio>
#include <string>

#include "dialog_base.h"

namespace sentrydesk {
namespace {

constexpr const char* kNotUnsigned = "Please enter a whole number (digits only).";

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

std::string DialogItemText(HWND control) {
    int length = GetWindowTextLengthA(control);
    std::string text(static_cast<size_t>(length) + 1, '\0');
    GetWindowTextA(control, &text[0], length + 1);
    text.resize(static_cast<size_t>(length));
    return text;
}

}  // namespace

bool ParseUnsignedText(const char* text, unsigned* value) {
    if (text == nullptr) return false;
    while (IsSpace(*text)) ++text;
    unsigned long long number = 0;
    int digits = 0;
    for (; *text >= '0' && *text <= '9'; ++text, ++digits) {
        number = number * 10 + static_cast<unsigned>(*text - '0');
        if (number > 0xFFFFFFFFull) return false;
    }
    while (IsSpace(*text)) ++text;
    if (digits == 0 || *text != '\0') return false;
    *value = static_cast<unsigned>(number);
    return true;
}

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
    if (!ParseUnsignedText(DialogItemText(control).c_str(), &parsed)) {
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
