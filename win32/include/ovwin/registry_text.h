// Registry values as text: the receiver library's settings and the console add-in's dialog.
#pragma once

#include <windows.h>

#include <string>

namespace ovwin {

// The one way a setting is read. True when the value exists, with its text in *text: a REG_DWORD
// as its decimal text (a port may be stored either way), any other type as its bytes up to the
// first NUL, so an empty value reads as "". False, *text untouched, when the key or the value
// is absent or cannot be read. *type, when given, gets the value's type with the text.
bool ReadRegText(HKEY root, const char* subKey, const char* valueName, std::string* text,
                 DWORD* type = nullptr);

// The value's bytes as stored, with its type. False, both untouched, when the key or the value is
// absent or cannot be read.
bool ReadRegData(HKEY root, const char* subKey, const char* valueName, std::string* data, DWORD* type);

// ReadRegText for the receiver library's exported GetRegInfo: "" when the value is absent, cannot
// be read or takes more than 1024 bytes. The text lives in a per-thread buffer, valid until this
// thread's next call.
const char* GetRegInfo(HKEY root, const char* subKey, const char* valueName);

// Writes one value (REG_SZ, or REG_DWORD from decimal text) into an existing key; never creates
// the key. A null subKey means root itself. 1 when written, 0 otherwise.
int SetValueName(HKEY root, const char* subKey, unsigned long type, const char* valueName, const char* data);

}  // namespace ovwin
