#include "ovwin/registry_number.h"

#include <cstring>

#include "ovwin/number_text.h"
#include "ovwin/registry_text.h"

namespace ovwin {
namespace {

// A REG_DWORD or REG_QWORD of the wrong size: no number to show, so say what it was.
std::string Misfit(const char* type, std::size_t size) {
    return "(" + std::string(type) + " of " + std::to_string(static_cast<unsigned long long>(size)) +
           " bytes)";
}

}  // namespace

RegNumber ReadRegNumber(HKEY root, const char* subKey, const char* valueName, std::uint64_t min,
                        std::uint64_t max, std::uint64_t defaultValue) {
    RegNumber result;
    result.value = defaultValue;
    std::string data;
    DWORD type = 0;
    if (!ReadRegData(root, subKey, valueName, &data, &type) || data.empty()) return result;

    std::uint64_t number = 0;
    bool parsed = false;
    if (type == REG_DWORD || type == REG_QWORD) {
        const std::size_t width = type == REG_DWORD ? sizeof(DWORD) : sizeof(std::uint64_t);
        if (data.size() != width) {
            result.outcome = RegNumber::kRefused;
            result.refused = Misfit(type == REG_DWORD ? "REG_DWORD" : "REG_QWORD", data.size());
            return result;
        }
        if (type == REG_DWORD) {
            DWORD dword;
            std::memcpy(&dword, data.data(), sizeof dword);
            number = dword;
        } else {
            std::memcpy(&number, data.data(), sizeof number);
        }
        parsed = true;
        result.refused = std::to_string(static_cast<unsigned long long>(number));
    } else {
        std::string text(data.data(), strnlen(data.data(), data.size()));
        if (IsBlankText(text.c_str())) return result;
        unsigned long long read = 0;
        parsed = ParseUnsignedText(text.c_str(), static_cast<unsigned long long>(max), &read);
        number = read;
        result.refused = text;
    }
    if (parsed && number >= min && number <= max) {
        result.outcome = RegNumber::kTaken;
        result.value = number;
        result.refused.clear();
        return result;
    }
    result.outcome = RegNumber::kRefused;
    return result;
}

bool ReadRegStoredNumber(HKEY root, const char* subKey, const char* valueName, DWORD type,
                         std::uint64_t* value) {
    std::string data;
    DWORD stored = 0;
    if (!ReadRegData(root, subKey, valueName, &data, &stored) || stored != type) return false;
    if (type == REG_DWORD && data.size() == sizeof(DWORD)) {
        DWORD dword;
        std::memcpy(&dword, data.data(), sizeof dword);
        *value = dword;
        return true;
    }
    if (type == REG_QWORD && data.size() == sizeof(std::uint64_t)) {
        std::memcpy(value, data.data(), sizeof *value);
        return true;
    }
    return false;
}

}  // namespace ovwin
