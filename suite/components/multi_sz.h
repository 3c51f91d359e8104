// REG_MULTI_SZ data as a list of strings. Pure rules, no platform.
#pragma once

#include <string>
#include <vector>

namespace orvane_components {

// Strings up to the first empty one or the end of the data, whichever comes first; data that
// lacks its final NULs still gives its last string.
std::vector<std::string> ParseMultiSz(const char* data, size_t size);
// Each string with its NUL, then the closing NUL. Empty strings cannot be stored and are dropped.
std::string FormatMultiSz(const std::vector<std::string>& strings);

}  // namespace orvane_components
