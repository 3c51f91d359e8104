#include "outbox_names.h"

#include <cctype>

namespace orvane_comm {
namespace {

bool IsPlainChar(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '_' || c == '-';
}

bool IsDeviceName(const std::string& stem) {
    std::string base = stem.substr(0, stem.find('.'));
    for (char& c : base) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL") return true;
    return base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) &&
           base[3] >= '1' && base[3] <= '9';
}

}  // namespace

std::string DestinationStem(const char* destination) {
    std::string stem;
    for (const char* p = destination; p && *p && stem.size() < kMaxFileStem; ++p)
        stem += IsPlainChar(static_cast<unsigned char>(*p)) ? *p : '_';
    if (stem.empty()) return kEmptyDestinationName;
    if (IsDeviceName(stem)) stem.insert(0, 1, '_');
    return stem;
}

std::string CallsLogLine(const char* destination, bool stored) {
    std::string line;
    for (const char* p = destination; p && *p; ++p) line += static_cast<unsigned char>(*p) < 0x20 ? '_' : *p;
    line += stored ? "\t1\r\n" : "\t0\r\n";
    return line;
}

}  // namespace orvane_comm
