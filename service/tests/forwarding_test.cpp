// The spool's size setting as the service reads it.
#include <gtest/gtest.h>

#include <string>

#include "forwarding.h"
#include "ovwin/handles.h"
#include "ovwin/registry_names.h"

namespace {

// type 0: the value is missing.
void Store(DWORD type, DWORD number, const std::string& text) {
    ovwin::UniqueHkey key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, ovwin::kSyslogKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              key.put(), nullptr),
              ERROR_SUCCESS);
    RegDeleteValueA(key.get(), kSpoolMaxValue);
    if (type == REG_DWORD)
        ASSERT_EQ(RegSetValueExA(key.get(), kSpoolMaxValue, 0, REG_DWORD,
                                 reinterpret_cast<const BYTE*>(&number), sizeof number),
                  ERROR_SUCCESS);
    if (type == REG_SZ)
        ASSERT_EQ(
            RegSetValueExA(key.get(), kSpoolMaxValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                           static_cast<DWORD>(text.size() + 1)),
            ERROR_SUCCESS);
}

TEST(SpoolSetting, BoundsAndDefault) {
    constexpr std::uint64_t kDefault = 1ull << 30;
    const struct {
        int line;
        DWORD type;
        DWORD number;
        const char* text;
        std::uint64_t bytes;
        const char* refused;
    } cases[] = {
        {__LINE__, 0, 0, "", kDefault, ""},
        {__LINE__, REG_DWORD, 1u << 20, "", 1u << 20, ""},
        {__LINE__, REG_DWORD, 0xFFFFFFFFu, "", 0xFFFFFFFFu, ""},  // the most a DWORD holds
        {__LINE__, REG_DWORD, (1u << 20) - 1, "", kDefault, "1048575"},
        {__LINE__, REG_DWORD, 0, "", kDefault, "0"},
        {__LINE__, REG_SZ, 0, "2097152", 2u << 20, ""},
        {__LINE__, REG_SZ, 0, "1g", kDefault, "1g"},
        {__LINE__, REG_SZ, 0, "1099511627777", kDefault, "1099511627777"},  // above the most
        {__LINE__, REG_SZ, 0, "", kDefault, ""},
    };
    for (const auto& c : cases) {
        Store(c.type, c.number, c.text);
        std::string refused = "stale";
        EXPECT_EQ(ReadSpoolMaxBytes(&refused), c.bytes) << "case at line " << c.line;
        EXPECT_EQ(refused, c.refused) << "case at line " << c.line;
    }
    Store(0, 0, "");
}

}  // namespace
