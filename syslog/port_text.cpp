#include "port_text.h"

namespace ovreg {
namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

}  // namespace

bool IsBlankText(const char* text) {
    if (text == nullptr) return true;
    while (IsSpace(*text)) ++text;
    return *text == '\0';
}

bool ParsePortText(const char* text, int* port) {
    if (text == nullptr) return false;
    while (IsSpace(*text)) ++text;
    long value = 0;
    int digits = 0;
    for (; *text >= '0' && *text <= '9'; ++text, ++digits) {
        value = value * 10 + (*text - '0');
        if (value > kMaxPort) return false;
    }
    while (IsSpace(*text)) ++text;
    if (digits == 0 || *text != '\0' || value < kMinPort) return false;
    *port = static_cast<int>(value);
    return true;
}

}  // namespace ovreg
