#include "multi_sz.h"

namespace orvane_components {

std::vector<std::string> ParseMultiSz(const char* data, size_t size) {
    std::vector<std::string> strings;
    size_t pos = 0;
    while (pos < size && data[pos] != '\0') {
        size_t end = pos;
        while (end < size && data[end] != '\0') ++end;
        strings.emplace_back(data + pos, end - pos);
        pos = end + 1;
    }
    return strings;
}

std::string FormatMultiSz(const std::vector<std::string>& strings) {
    std::string data;
    for (const std::string& s : strings) {
        if (s.empty()) continue;
        data += s;
        data += '\0';
    }
    data += '\0';
    if (data.size() == 1) data += '\0';  // an empty list is two NULs
    return data;
}

}  // namespace orvane_components
