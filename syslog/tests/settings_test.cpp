// The service's settings in the registry: the port it binds and the status it leaves behind.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "OVSyslog.h"
#include "ovwin/registry_names.h"
#include "ovwin/registry_text.h"

namespace {

constexpr int kUnchanged = -12345;  // a port no setting can produce

// The whole key: the service keeps its counters in a subkey of it.
LONG DeleteSyslogKey() { return RegDeleteTreeA(HKEY_LOCAL_MACHINE, OVSYSLOG_REG_KEY); }

bool SyslogKeyExists() {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, OVSYSLOG_REG_KEY, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

void CreateSyslogKey() {
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, OVSYSLOG_REG_KEY, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &key, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
}

void SetRaw(const char* name, DWORD type, const void* data, DWORD size) {
    HKEY key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, OVSYSLOG_REG_KEY, 0, KEY_SET_VALUE, &key), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
    RegCloseKey(key);
}

void SetText(const char* name, const std::string& text) {
    SetRaw(name, REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1));
}

bool ReadRaw(const char* name, DWORD* type, std::string* data) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, OVSYSLOG_REG_KEY, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    char buffer[2048];
    DWORD size = sizeof buffer;
    LONG r = RegQueryValueExA(key, name, nullptr, type, reinterpret_cast<BYTE*>(buffer), &size);
    RegCloseKey(key);
    if (r != ERROR_SUCCESS) return false;
    data->assign(buffer, size);
    return true;
}

class Settings : public ::testing::Test {
protected:
    void SetUp() override {
        DeleteSyslogKey();
        CreateSyslogKey();
        CSyslogMinitor::setRadiusPort(kUnchanged);
    }
    void TearDown() override { DeleteSyslogKey(); }
};

TEST_F(Settings, PortComesFromAuthPortTextOrDefaults) {
    const std::string kLongDigits(2000, '5');
    struct {
        int line;
        const char* text;  // null: no AuthPort value
        bool accepted;
        int port;
    } cases[] = {
        {__LINE__, nullptr, true, 514},
        {__LINE__, "", true, 514},
        {__LINE__, "  ", true, 514},
        {__LINE__, "1514", true, 1514},
        {__LINE__, " 600", true, 600},
        {__LINE__, "65535", true, 65535},
        {__LINE__, "abc", false, kUnchanged},
        {__LINE__, "70000", false, kUnchanged},
        {__LINE__, "1514xyz", false, kUnchanged},
        {__LINE__, "0", false, kUnchanged},
        {__LINE__, "-514", false, kUnchanged},
        // Longer than a fixed buffer once held: still no port, not the default.
        {__LINE__, kLongDigits.c_str(), false, kUnchanged},
    };
    for (const auto& c : cases) {
        SetUp();
        if (c.text != nullptr) SetText(OVSYSLOG_REG_PORT, c.text);
        EXPECT_EQ(CSyslogMinitor::setSyslogProperty(), c.accepted) << "case at line " << c.line;
        EXPECT_EQ(CSyslogMinitor::getRadiusPort(), c.port) << "case at line " << c.line;
    }
}

TEST_F(Settings, PortStoredAsNumberIsReadAsItsValue) {
    struct {
        DWORD value;
        bool accepted;
        int port;
    } cases[] = {{514, true, 514}, {1514, true, 1514}, {0, false, kUnchanged}, {70000, false, kUnchanged}};
    for (const auto& c : cases) {
        SetUp();
        SetRaw(OVSYSLOG_REG_PORT, REG_DWORD, &c.value, sizeof c.value);
        EXPECT_EQ(CSyslogMinitor::setSyslogProperty(), c.accepted) << c.value;
        EXPECT_EQ(CSyslogMinitor::getRadiusPort(), c.port) << c.value;
    }
}

TEST_F(Settings, ReceiveBufferIsTheStoredSizeWithinBoundsElseTheDefault) {
    constexpr unsigned long kDefault = 64ul << 20;
    const std::string tooLong(200, '9');
    struct {
        int line;
        DWORD type;  // 0: no RecvBufferSize value
        DWORD number;
        std::string text;
        unsigned long size;
        const char* refused;  // null: nothing refused
    } cases[] = {
        {__LINE__, 0, 0, "", kDefault, nullptr},
        {__LINE__, REG_DWORD, 65536, "", 65536, nullptr},
        {__LINE__, REG_DWORD, 8ul << 20, "", 8ul << 20, nullptr},
        {__LINE__, REG_DWORD, 1ul << 30, "", 1ul << 30, nullptr},
        {__LINE__, REG_DWORD, 65535, "", kDefault, "65535"},
        {__LINE__, 0, 0, "", kDefault, nullptr},  // a refusal does not outlive its value
        {__LINE__, REG_DWORD, (1ul << 30) + 1, "", kDefault, "1073741825"},
        {__LINE__, REG_DWORD, 0, "", kDefault, "0"},
        {__LINE__, REG_DWORD, 0xFFFFFFFFu, "", kDefault, "4294967295"},
        {__LINE__, REG_SZ, 0, "16777216", 16ul << 20, nullptr},
        {__LINE__, REG_SZ, 0, " ", kDefault, nullptr},
        {__LINE__, REG_SZ, 0, "64m", kDefault, "64m"},
        {__LINE__, REG_SZ, 0, "-65536", kDefault, "-65536"},
        {__LINE__, REG_SZ, 0, tooLong, kDefault, ""},  // refused, its text cut short
    };
    for (const auto& c : cases) {
        SetUp();
        if (c.type == REG_DWORD) SetRaw(ovwin::kRecvBufferValue, REG_DWORD, &c.number, sizeof c.number);
        if (c.type == REG_SZ) SetText(ovwin::kRecvBufferValue, c.text);
        EXPECT_TRUE(CSyslogMinitor::setSyslogProperty()) << "case at line " << c.line;
        EXPECT_EQ(CSyslogMinitor::getRadiusPort(), 514) << "case at line " << c.line;
        EXPECT_EQ(CSyslogMinitor::getRecvBufferSize(), c.size) << "case at line " << c.line;
        const char* refused = CSyslogMinitor::getRefusedRecvBuffer();
        if (c.refused == nullptr) {
            EXPECT_EQ(refused, nullptr) << "case at line " << c.line << ": " << refused;
        } else if (*c.refused == '\0') {
            ASSERT_NE(refused, nullptr) << "case at line " << c.line;
            EXPECT_EQ(std::string(refused), tooLong.substr(0, std::strlen(refused)))
                << "case at line " << c.line;
            EXPECT_LT(std::strlen(refused), tooLong.size()) << "case at line " << c.line;
        } else {
            EXPECT_STREQ(refused, c.refused) << "case at line " << c.line;
        }
    }
}

// A size as an operator may store it: a REG_DWORD, a REG_QWORD or decimal text, each with the same
// bounds; a 64-bit value must not be read as the text of its bytes.
std::string Dword(DWORD number) { return std::string(reinterpret_cast<const char*>(&number), sizeof number); }
std::string Qword(unsigned long long number) {
    return std::string(reinterpret_cast<const char*>(&number), sizeof number);
}
std::string Text(const std::string& text) { return text + '\0'; }

TEST_F(Settings, ReceiveBufferTakesTheSameBoundsFromEveryType) {
    constexpr unsigned long kDefault = 64ul << 20;
    struct {
        int line;
        DWORD type;  // REG_NONE: no RecvBufferSize value
        std::string data;
        unsigned long size;
        const char* refused;  // null: nothing refused
    } cases[] = {
        {__LINE__, REG_NONE, "", kDefault, nullptr},
        {__LINE__, REG_DWORD, Dword(65536), 65536, nullptr},
        {__LINE__, REG_DWORD, Dword(1ul << 30), 1ul << 30, nullptr},
        {__LINE__, REG_DWORD, Dword(65535), kDefault, "65535"},
        {__LINE__, REG_DWORD, Dword((1ul << 30) + 1), kDefault, "1073741825"},
        {__LINE__, REG_DWORD, "", kDefault, nullptr},  // empty
        {__LINE__, REG_DWORD, std::string("\0\0\1", 3), kDefault, "(REG_DWORD of 3 bytes)"},
        {__LINE__, REG_QWORD, Qword(8ul << 20), 8ul << 20, nullptr},
        {__LINE__, REG_QWORD, Qword(65536), 65536, nullptr},
        {__LINE__, REG_QWORD, Qword(1ul << 30), 1ul << 30, nullptr},
        {__LINE__, REG_QWORD, Qword(1000), kDefault, "1000"},
        {__LINE__, REG_QWORD, Qword(0), kDefault, "0"},
        {__LINE__, REG_QWORD, Qword((1ull << 32) + 65536), kDefault, "4295032832"},  // not its low half
        {__LINE__, REG_QWORD, "", kDefault, nullptr},
        {__LINE__, REG_QWORD, Dword(65536), kDefault, "(REG_QWORD of 4 bytes)"},
        {__LINE__, REG_SZ, Text("65536"), 65536, nullptr},
        {__LINE__, REG_SZ, Text(" 1073741824 "), 1ul << 30, nullptr},
        {__LINE__, REG_SZ, Text("65535"), kDefault, "65535"},
        {__LINE__, REG_SZ, Text("1073741825"), kDefault, "1073741825"},
        {__LINE__, REG_SZ, Text("99999999999999999999999"), kDefault, "99999999999999999999999"},
        {__LINE__, REG_SZ, Text(""), kDefault, nullptr},
        {__LINE__, REG_SZ, "", kDefault, nullptr},  // not even its NUL
        {__LINE__, REG_SZ, Text("8 MiB"), kDefault, "8 MiB"},
        {__LINE__, REG_EXPAND_SZ, Text("131072"), 131072, nullptr},
    };
    for (const auto& c : cases) {
        SetUp();
        if (c.type != REG_NONE)
            SetRaw(ovwin::kRecvBufferValue, c.type, c.data.data(), static_cast<DWORD>(c.data.size()));
        EXPECT_TRUE(CSyslogMinitor::setSyslogProperty()) << "case at line " << c.line;
        EXPECT_EQ(CSyslogMinitor::getRecvBufferSize(), c.size) << "case at line " << c.line;
        const char* refused = CSyslogMinitor::getRefusedRecvBuffer();
        if (c.refused == nullptr)
            EXPECT_EQ(refused, nullptr) << "case at line " << c.line << ": " << refused;
        else
            EXPECT_STREQ(refused, c.refused) << "case at line " << c.line;
    }
}

TEST_F(Settings, ReceiveBufferFallsBackToTheDefaultWithoutTheKey) {
    DWORD size = 65536;
    SetRaw(ovwin::kRecvBufferValue, REG_DWORD, &size, sizeof size);
    EXPECT_TRUE(CSyslogMinitor::setSyslogProperty());
    EXPECT_EQ(CSyslogMinitor::getRecvBufferSize(), 65536u);
    ASSERT_EQ(DeleteSyslogKey(), ERROR_SUCCESS);
    EXPECT_TRUE(CSyslogMinitor::setSyslogProperty());
    EXPECT_EQ(CSyslogMinitor::getRecvBufferSize(), 64ul << 20) << "no key means the default";
}

TEST_F(Settings, MissingKeyMeansTheDefaultPortAndIsNeverCreated) {
    ASSERT_EQ(DeleteSyslogKey(), ERROR_SUCCESS);
    EXPECT_TRUE(CSyslogMinitor::setSyslogProperty());
    EXPECT_EQ(CSyslogMinitor::getRadiusPort(), 514);
    EXPECT_TRUE(CSyslogMinitor::setServiceStatus(102)) << "a failed status write is not reported";
    EXPECT_FALSE(SyslogKeyExists()) << "writing the status created the key";
}

TEST_F(Settings, StatusIsStoredAsSignedDecimalText) {
    for (int status : {0, 100, 102, -5}) {
        EXPECT_TRUE(CSyslogMinitor::setServiceStatus(status));
        DWORD type = 0;
        std::string data;
        ASSERT_TRUE(ReadRaw(OVSYSLOG_REG_STATUS, &type, &data)) << status;
        EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
        EXPECT_EQ(data, std::to_string(status) + '\0') << "the stored length counts one zero byte";
    }
}

TEST_F(Settings, SetValueNameWritesTextOrNumberIntoAnExistingKeyOnly) {
    EXPECT_EQ(ovwin::SetValueName(HKEY_LOCAL_MACHINE, OVSYSLOG_REG_KEY, REG_DWORD, "Number", "514"), 1);
    DWORD type = 0;
    std::string data;
    ASSERT_TRUE(ReadRaw("Number", &type, &data));
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    ASSERT_EQ(data.size(), 4u);
    EXPECT_EQ(*reinterpret_cast<const DWORD*>(data.data()), 514u);

    EXPECT_EQ(ovwin::SetValueName(HKEY_LOCAL_MACHINE, OVSYSLOG_REG_KEY, REG_SZ, "Empty", ""), 1);
    ASSERT_TRUE(ReadRaw("Empty", &type, &data));
    EXPECT_EQ(data, std::string(1, '\0'));

    EXPECT_EQ(ovwin::SetValueName(HKEY_LOCAL_MACHINE, OVSYSLOG_REG_KEY, REG_BINARY, "Binary", "x"), 0);
    EXPECT_FALSE(ReadRaw("Binary", &type, &data)) << "an unsupported type was written";

    // A null sub-key writes into the root key itself.
    HKEY key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, OVSYSLOG_REG_KEY, 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
    EXPECT_EQ(ovwin::SetValueName(key, nullptr, REG_SZ, "Direct", "yes"), 1);
    RegCloseKey(key);
    EXPECT_STREQ(ovwin::GetRegInfo(HKEY_LOCAL_MACHINE, OVSYSLOG_REG_KEY, "Direct"), "yes");

    ASSERT_EQ(DeleteSyslogKey(), ERROR_SUCCESS);
    EXPECT_EQ(ovwin::SetValueName(HKEY_LOCAL_MACHINE, OVSYSLOG_REG_KEY, REG_SZ, OVSYSLOG_REG_PORT, "514"), 0);
    EXPECT_FALSE(SyslogKeyExists()) << "a write created the missing key";
}

TEST_F(Settings, GetRegInfoGivesEmptyTextForWhatItCannotRead) {
    EXPECT_STREQ(ovwin::GetRegInfo(HKEY_LOCAL_MACHINE, OVSYSLOG_REG_KEY, "Missing"), "");
    EXPECT_STREQ(ovwin::GetRegInfo(HKEY_LOCAL_MACHINE, "Software\\NoSuchKeyHere", "AuthPort"), "");

    std::string fits(1023, 'a');
    SetText("Fits", fits);
    EXPECT_EQ(std::string(ovwin::GetRegInfo(HKEY_LOCAL_MACHINE, OVSYSLOG_REG_KEY, "Fits")), fits);
    SetText("TooLong", std::string(1024, 'b'));
    EXPECT_STREQ(ovwin::GetRegInfo(HKEY_LOCAL_MACHINE, OVSYSLOG_REG_KEY, "TooLong"), "");
}

}  // namespace
