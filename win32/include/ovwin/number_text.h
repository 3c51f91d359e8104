// Which texts are numbers: the port settings and the dialog's fields. Plain C++, so that the rules
// are also tested natively with the sanitizers.
#pragma once

namespace ovwin {

constexpr int kMinPort = 1;
constexpr int kMaxPort = 65535;

// True when text is a whole decimal number no greater than max, with optional surrounding white
// space; stores it in *value. Nothing is stored when false.
bool ParseUnsignedText(const char* text, unsigned long max, unsigned long* value);
// The same for 64-bit numbers: sizes a REG_QWORD may hold.
bool ParseUnsignedText(const char* text, unsigned long long max, unsigned long long* value);
// The same within the 32-bit range.
bool ParseUnsignedText(const char* text, unsigned* value);

// True when text is a whole decimal number from 1 to 65535, with optional surrounding white space;
// stores it in *port.
bool ParsePortText(const char* text, int* port);

// True when text is empty or all white space: the stored port then means the default.
bool IsBlankText(const char* text);

}  // namespace ovwin
