// A port value under the settings key, written by the install and put back by its rollback: the
// same for the UDP port (AuthPort) and the TCP port (TcpPort).
#pragma once

#include <windows.h>

#include <string>

namespace ovsetup {

// Writes the port as text; with REG_DWORD a number goes back as the number it was.
UINT SetPortValue(const char* name, const char* text, DWORD type = REG_SZ);
// Puts back what the immediate phase found (kHadValue or kHadNumber and the old text), or
// removes the value when there was none (empty).
UINT RestorePortValue(const char* name, const std::string& before);

}  // namespace ovsetup
