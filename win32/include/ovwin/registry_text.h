// Registry values as text: the receiver library's settings and the console add-in's dialog.
#pragma once

#include <windows.h>

namespace ovwin {

// Text of one value, or "" when the key or value cannot be read. A REG_DWORD reads as its decimal
// text. The text lives in a per-thread buffer, valid until this thread's next call.
const char* GetRegInfo(HKEY root, const char* subKey, const char* valueName);

// Writes one value (REG_SZ, or REG_DWORD from decimal text) into an existing key; never creates
// the key. A null subKey means root itself. 1 when written, 0 otherwise.
int SetValueName(HKEY root, const char* subKey, unsigned long type, const char* valueName,
                 const char* data);

}  // namespace ovwin
