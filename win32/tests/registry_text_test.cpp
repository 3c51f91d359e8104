// Reading a setting: absent must stay apart from empty (the installer keeps an operator's empty
// AuthPort but writes the default where there is none), and a port stored as a number must read
// as that number, not as its bytes.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "ovwin/registry_number.h"
#include "ovwin/registry_text.h"

namespace {

constexpr const char* kTestKey = "Software\\OVSyslogTests\\RegistryText";

// A fresh test key for each case, removed with the object.
class TestKey {
public:
    TestKey() {
        RegDeleteKeyA(HKEY_CURRENT_USER, kTestKey);
        m_created = RegCreateKeyExA(HKEY_CURRENT_USER, kTestKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                    &m_key, nullptr) == ERROR_SUCCESS;
    }
    ~TestKey() {
        if (m_created) RegCloseKey(m_key);
        RegDeleteKeyA(HKEY_CURRENT_USER, kTestKey);
    }
    TestKey(const TestKey&) = delete;
    TestKey& operator=(const TestKey&) = delete;
    bool Store(const char* name, DWORD type, const void* data, DWORD size) {
        return m_created &&
               RegSetValueExA(m_key, name, 0, type, static_cast<const BYTE*>(data), size) == ERROR_SUCCESS;
    }
    bool created() const { return m_created; }

private:
    HKEY m_key = nullptr;
    bool m_created = false;
};

TEST(RegistryText, TellsAbsentFromEmptyAndReadsNumbersAsTheirText) {
    const DWORD port = 1514, zero = 0, largest = 0xFFFFFFFFu;
    const std::string longText(5000, '7');
    const struct {
        int line;
        DWORD type;  // 0: no value stored
        const void* data;
        DWORD size;
        bool present;
        std::string text;
    } cases[] = {
        {__LINE__, 0, nullptr, 0, false, ""},
        {__LINE__, REG_SZ, "", 1, true, ""},
        {__LINE__, REG_SZ, "", 0, true, ""},            // empty without its NUL
        {__LINE__, REG_SZ, " 514 ", 6, true, " 514 "},  // as stored: the reader trims
        {__LINE__, REG_SZ, "1514", 4, true, "1514"},    // stored without its NUL
        {__LINE__, REG_EXPAND_SZ, "600", 4, true, "600"},
        {__LINE__, REG_DWORD, &port, sizeof port, true, "1514"},
        {__LINE__, REG_DWORD, &zero, sizeof zero, true, "0"},
        {__LINE__, REG_DWORD, &largest, sizeof largest, true, "4294967295"},
        {__LINE__, REG_SZ, longText.c_str(), 5001, true, longText},
    };
    for (const auto& c : cases) {
        TestKey key;
        ASSERT_TRUE(key.created());
        if (c.type != 0) {
            ASSERT_TRUE(key.Store("Value", c.type, c.data, c.size)) << "case at line " << c.line;
        }
        std::string text = "untouched";
        DWORD type = 0;
        EXPECT_EQ(ovwin::ReadRegText(HKEY_CURRENT_USER, kTestKey, "Value", &text, &type), c.present)
            << "case at line " << c.line;
        EXPECT_EQ(text, c.present ? c.text : "untouched") << "case at line " << c.line;
        EXPECT_EQ(type, c.type) << "case at line " << c.line;
    }
}

TEST(RegistryText, AMissingKeyReadsAsAbsent) {
    std::string text = "untouched";
    EXPECT_FALSE(ovwin::ReadRegText(HKEY_CURRENT_USER, "Software\\OVSyslogTests\\NoSuchKey", "Value", &text));
    EXPECT_EQ(text, "untouched");
}

TEST(RegistryNumber, ACounterOrFlagIsTakenOnlyAsWritten) {
    const DWORD flag = 7;
    const std::uint64_t count = 0x1234567890ull;
    const unsigned char three[3] = {1, 2, 3};
    struct Stored {
        DWORD type;  // 0: no value stored
        const void* data;
        DWORD size;
    };
    const struct {
        int line;
        Stored stored;
        DWORD want;  // the type asked for
        bool taken;
        std::uint64_t value;
    } cases[] = {
        {__LINE__, {REG_DWORD, &flag, sizeof flag}, REG_DWORD, true, 7},
        {__LINE__, {REG_QWORD, &count, sizeof count}, REG_QWORD, true, count},
        {__LINE__, {0, nullptr, 0}, REG_DWORD, false, 0},
        {__LINE__, {REG_DWORD, &flag, sizeof flag}, REG_QWORD, false, 0},  // another type
        {__LINE__, {REG_QWORD, &count, sizeof count}, REG_DWORD, false, 0},
        {__LINE__, {REG_SZ, "7", 2}, REG_DWORD, false, 0},                  // text is a setting's form
        {__LINE__, {REG_DWORD, three, sizeof three}, REG_DWORD, false, 0},  // the type's size only
        {__LINE__, {REG_QWORD, &flag, sizeof flag}, REG_QWORD, false, 0},
    };
    for (const auto& c : cases) {
        TestKey key;
        ASSERT_TRUE(key.created());
        if (c.stored.type != 0) {
            ASSERT_TRUE(key.Store("Value", c.stored.type, c.stored.data, c.stored.size))
                << "case at line " << c.line;
        }
        std::uint64_t value = 99;
        EXPECT_EQ(ovwin::ReadRegStoredNumber(HKEY_CURRENT_USER, kTestKey, "Value", c.want, &value), c.taken)
            << "case at line " << c.line;
        EXPECT_EQ(value, c.taken ? c.value : 99) << "case at line " << c.line;
        // The same through an open key, as the readers of several values use it.
        HKEY open = nullptr;
        ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kTestKey, 0, KEY_READ, &open), ERROR_SUCCESS);
        value = 99;
        EXPECT_EQ(ovwin::ReadRegStoredNumber(open, nullptr, "Value", c.want, &value), c.taken)
            << "case at line " << c.line;
        EXPECT_EQ(value, c.taken ? c.value : 99) << "case at line " << c.line;
        RegCloseKey(open);
    }
}

}  // namespace
