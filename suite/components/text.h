// Conversions between the registry's 8-bit text and COM's wide strings (ANSI code page).
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>

namespace orvane_components {

// A new BSTR the caller owns; null when out of memory.
BSTR AnsiToBstr(const std::string& text);
// Registry form: upper case with braces, "{55BFDBEE-203B-...}".
std::string ClsidText(const CLSID& clsid);

}  // namespace orvane_components
