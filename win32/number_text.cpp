#include "ovwin/number_text.h"

namespace ovwin {
namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

const char* SkipSpace(const char* text) {
    while (IsSpace(*text)) ++text;
    return text;
}

}  // namespace

bool IsBlankText(const char* text) { return text == nullptr || *SkipSpace(text) == '\0'; }

bool ParseUnsignedText(const char* text, unsigned long long max, unsigned long long* value) {
    if (text == nullptr) return false;
    text = SkipSpace(text);
    unsigned long long number = 0;
    int digits = 0;
    for (; *text >= '0' && *text <= '9'; ++text, ++digits) {
        unsigned digit = static_cast<unsigned>(*text - '0');
        if (digit > max || number > (max - digit) / 10) return false;  // above max, never wrapping
        number = number * 10 + digit;
    }
    if (digits == 0 || *SkipSpace(text) != '\0') return false;
    *value = number;
    return true;
}

bool ParseUnsignedText(const char* text, unsigned long max, unsigned long* value) {
    unsigned long long number = 0;
    if (!ParseUnsignedText(text, static_cast<unsigned long long>(max), &number)) return false;
    *value = static_cast<unsigned long>(number);
    return true;
}

bool ParseUnsignedText(const char* text, unsigned* value) {
    unsigned long number = 0;
    if (!ParseUnsignedText(text, 0xFFFFFFFFul, &number)) return false;
    *value = static_cast<unsigned>(number);
    return true;
}

bool ParsePortText(const char* text, int* port) {
    unsigned long number = 0;
    if (!ParseUnsignedText(text, kMaxPort, &number) || number < kMinPort) return false;
    *port = static_cast<int>(number);
    return true;
}

}  // namespace ovwin
