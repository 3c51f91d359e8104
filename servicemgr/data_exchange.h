// Exchange between a dialog's fields and its controls, with validation messages.
#pragma once

#include <windows.h>

namespace sentrydesk {

class ControlWindow;

class DataExchange {
public:
    DataExchange(HWND dialog, bool save) : dialog_(dialog), save_(save) {}

    bool saving() const { return save_; }
    bool failed() const { return failed_; }
    HWND dialog() const { return dialog_; }

    // Records the control an exchange works on, for the focus after a failed validation.
    HWND PrepareControl(int id);
    // Shows the message, puts the focus on the last prepared control and stops the exchange.
    void Fail(const char* message);

private:
    HWND dialog_;
    bool save_;
    bool failed_ = false;
    HWND lastControl_ = nullptr;
};

constexpr const char* kMessageCaption = "Sentrydesk";

void DDX_Control(DataExchange* dx, int id, ControlWindow& control);
// Unsigned decimal text: load writes the number, save accepts digits with surrounding white space
// (ovwin::ParseUnsignedText).
void DDX_Text(DataExchange* dx, int id, unsigned& value);
void DDV_MinMaxUInt(DataExchange* dx, unsigned value, unsigned min, unsigned max);

}  // namespace sentrydesk
