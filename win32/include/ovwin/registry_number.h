// Numbers in the registry. Size settings: an operator may store a number as REG_DWORD, REG_QWORD
// or decimal text, and each form takes the same bounds. Counters and flags: taken only as written.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace ovwin {

struct RegNumber {
    enum Outcome {
        kUnset,    // missing, unreadable, empty or blank: the default, and nothing to say
        kTaken,    // a number within the bounds
        kRefused,  // anything else: the default, and the caller tells the error log
    };
    Outcome outcome = kUnset;
    std::uint64_t value = 0;  // the stored number when taken, else the default
    std::string refused;      // when refused: what was stored, as decimal text where it is a number
};

// Reads valueName under root\subKey as a number from min to max. REG_DWORD and REG_QWORD are
// taken by their value, any other type by its text up to the first NUL, as a text setting always
// was; a REG_DWORD or REG_QWORD whose size does not fit its type holds no number and is refused.
RegNumber ReadRegNumber(HKEY root, const char* subKey, const char* valueName, std::uint64_t min,
                        std::uint64_t max, std::uint64_t defaultValue);

// A number the programs wrote themselves (a counter, a flag): read only when stored as `type`,
// REG_DWORD or REG_QWORD, of that type's size. False, *value untouched, otherwise. A null subKey
// reads from root itself.
bool ReadRegStoredNumber(HKEY root, const char* subKey, const char* valueName, DWORD type,
                         std::uint64_t* value);

}  // namespace ovwin
