// SpoolMaxSize in every form an operator may store it, and the line that tells a refusal.
#include <gtest/gtest.h>

#include <string>

#include "forwarding.h"
#include "ovwin/handles.h"
#include "ovwin/registry_names.h"

namespace {

constexpr std::uint64_t kDefault = 1ull << 30;
constexpr std::uint64_t kMost = 1ull << 40;

std::string Dword(DWORD number) { return std::string(reinterpret_cast<const char*>(&number), sizeof number); }
std::string Qword(std::uint64_t number) {
    return std::string(reinterpret_cast<const char*>(&number), sizeof number);
}
std::string Text(const std::string& text) { return text + '\0'; }

// REG_NONE: the value is missing.
void Store(DWORD type, const std::string& data) {
    ovwin::UniqueHkey key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, ovwin::kSyslogKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              key.put(), nullptr),
              ERROR_SUCCESS);
    RegDeleteValueA(key.get(), kSpoolMaxValue);
    if (type == REG_NONE) return;
    ASSERT_EQ(RegSetValueExA(key.get(), kSpoolMaxValue, 0, type, reinterpret_cast<const BYTE*>(data.data()),
                             static_cast<DWORD>(data.size())),
              ERROR_SUCCESS);
}

TEST(SpoolSetting, TakesTheSameBoundsFromEveryType) {
    const struct {
        int line;
        DWORD type;
        std::string data;
        std::uint64_t bytes;
        const char* refused;
    } cases[] = {
        {__LINE__, REG_NONE, "", kDefault, ""},
        // A REG_DWORD cannot exceed the most.
        {__LINE__, REG_DWORD, Dword(1u << 20), 1u << 20, ""},
        {__LINE__, REG_DWORD, Dword(0xFFFFFFFFu), 0xFFFFFFFFu, ""},
        {__LINE__, REG_DWORD, Dword((1u << 20) - 1), kDefault, "1048575"},
        {__LINE__, REG_DWORD, "", kDefault, ""},
        {__LINE__, REG_DWORD, std::string("\0\x10", 2), kDefault, "(REG_DWORD of 2 bytes)"},
        {__LINE__, REG_QWORD, Qword(8ull << 30), 8ull << 30, ""},
        {__LINE__, REG_QWORD, Qword(2u << 20), 2u << 20, ""},
        {__LINE__, REG_QWORD, Qword(kMost), kMost, ""},
        {__LINE__, REG_QWORD, Qword(1000), kDefault, "1000"},
        {__LINE__, REG_QWORD, Qword(kMost + 1), kDefault, "1099511627777"},
        {__LINE__, REG_QWORD, Qword(~0ull), kDefault, "18446744073709551615"},
        {__LINE__, REG_QWORD, "", kDefault, ""},
        {__LINE__, REG_QWORD, Dword(2u << 20), kDefault, "(REG_QWORD of 4 bytes)"},
        {__LINE__, REG_SZ, Text("2097152"), 2u << 20, ""},
        {__LINE__, REG_SZ, Text("4294967296"), 1ull << 32, ""},
        {__LINE__, REG_SZ, Text("1099511627776"), kMost, ""},
        {__LINE__, REG_SZ, Text("1048575"), kDefault, "1048575"},
        {__LINE__, REG_SZ, Text("1099511627777"), kDefault, "1099511627777"},
        {__LINE__, REG_SZ, Text(""), kDefault, ""},
        {__LINE__, REG_SZ, Text("  "), kDefault, ""},
        {__LINE__, REG_SZ, Text("1g"), kDefault, "1g"},
        {__LINE__, REG_EXPAND_SZ, Text("3145728"), 3u << 20, ""},
    };
    for (const auto& c : cases) {
        Store(c.type, c.data);
        std::string refused = "stale";
        EXPECT_EQ(ReadSpoolMaxBytes(&refused), c.bytes) << "case at line " << c.line;
        EXPECT_EQ(refused, c.refused) << "case at line " << c.line;
    }
    Store(REG_NONE, "");
}

TEST(SpoolSetting, RefusalLineStatesTheBounds) {
    EXPECT_EQ(SpoolMaxRefusedLine("5000000000000", kDefault),
              "Syslog properties : SpoolMaxSize 5000000000000 is not from 1048576 to 1099511627776, "
              "1073741824 used !");
    // A long text is cut, so that the line stays whole.
    EXPECT_EQ(SpoolMaxRefusedLine(std::string(100, '9'), kDefault),
              "Syslog properties : SpoolMaxSize " + std::string(32, '9') +
                  " is not from 1048576 to 1099511627776, 1073741824 used !");
}

}  // namespace
