// Which texts name a UDP port: shared by the library's settings and the console add-in.
#pragma once

namespace ovreg {

constexpr int kMinPort = 1;
constexpr int kMaxPort = 65535;

// True when text is a whole decimal number from 1 to 65535, with optional surrounding white space;
// stores it in *port.
bool ParsePortText(const char* text, int* port);

// True when text is empty or all white space: the stored port then means the default.
bool IsBlankText(const char* text);

}  // namespace ovreg
