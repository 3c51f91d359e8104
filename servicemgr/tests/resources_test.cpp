// The add-in's resources read as Windows stores them: the dialog template, its icon and the
// version block that marks the DLL as self-registering.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "test_support.h"

using namespace testing_support;

namespace {

constexpr WORD kChineseSimplified = MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED);

// Reads the classic template field by field.
class TemplateReader {
public:
    explicit TemplateReader(const BYTE* p) : p_(p) {}
    DWORD Dword() {
        DWORD v;
        std::memcpy(&v, p_, 4);
        p_ += 4;
        return v;
    }
    WORD Word() {
        WORD v;
        std::memcpy(&v, p_, 2);
        p_ += 2;
        return v;
    }
    short Short() { return static_cast<short>(Word()); }
    // A string, or "#n" for an ordinal.
    std::string SzOrOrd() {
        WORD first = Word();
        if (first == 0xFFFF) return "#" + std::to_string(Word());
        std::string s;
        for (WORD c = first; c != 0; c = Word()) s += static_cast<char>(c);
        return s;
    }
    void AlignDword(const BYTE* base) {
        while ((p_ - base) % 4) ++p_;
    }

private:
    const BYTE* p_;
};

struct Control {
    WORD id;
    const char* cls;
    DWORD style;
    short x, y, cx, cy;
    const char* text;
};

// Predefined classes are stored by atom.
std::string ClassName(const std::string& stored) {
    if (stored == "#128") return "BUTTON";
    if (stored == "#129") return "EDIT";
    if (stored == "#130") return "STATIC";
    return stored;
}

const BYTE* LoadResourceData(HMODULE module, LPCSTR type, WORD id, WORD language, DWORD* size) {
    HRSRC found = FindResourceExA(module, type, MAKEINTRESOURCEA(id), language);
    if (!found) return nullptr;
    *size = SizeofResource(module, found);
    return static_cast<const BYTE*>(LockResource(LoadResource(module, found)));
}

class ResourcesTest : public ::testing::Test {
protected:
    void SetUp() override {
        module_ = LoadLibraryExA(BinPath("Sentrydesk.dll").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(module_, nullptr);
    }
    void TearDown() override { FreeLibrary(module_); }
    HMODULE module_ = nullptr;
};

TEST_F(ResourcesTest, DialogTemplateIsTheClassicFormOfTheControlTable) {
    DWORD size = 0;
    const BYTE* data = LoadResourceData(module_, MAKEINTRESOURCEA(5), 204, kChineseSimplified, &size);
    ASSERT_NE(data, nullptr) << "template 204 tagged 0x0804";
    TemplateReader r(data);
    EXPECT_EQ(r.Dword(), 0x80C800C0u) << "style";
    EXPECT_EQ(r.Dword(), 0u) << "extended style";
    WORD count = r.Word();
    EXPECT_EQ(r.Short(), 0);
    EXPECT_EQ(r.Short(), 0);
    EXPECT_EQ(r.Short(), 286);
    EXPECT_EQ(r.Short(), 157);
    EXPECT_EQ(r.SzOrOrd(), "") << "menu";
    EXPECT_EQ(r.SzOrOrd(), "") << "class";
    EXPECT_EQ(r.SzOrOrd(), "Services Manager");
    EXPECT_EQ(r.Word(), 9) << "point size";
    EXPECT_EQ(r.SzOrOrd(), "Arial");

    const Control expected[] = {
        {2, "BUTTON", 0x50010000, 104, 135, 38, 15, "&Close"},
        {213, "BUTTON", 0x50010000, 62, 40, 71, 15, "Stop &Trap Service"},
        {212, "EDIT", 0x50810080, 74, 83, 58, 13, ""},
        {204, "BUTTON", 0x50010000, 62, 105, 71, 15, "Stop &Syslog Service"},
        {0xFFFF, "BUTTON", 0x50000007, 7, 3, 136, 59, "Trap Service Configuration"},
        {0xFFFF, "BUTTON", 0x50000007, 7, 69, 136, 59, "Syslog Service Configuration"},
        {210, "EDIT", 0x50810080, 74, 17, 58, 13, ""},
        {0xFFFF, "STATIC", 0x50020000, 15, 20, 53, 10, "Trap UDP Port :"},
        {0xFFFF, "STATIC", 0x50020000, 13, 86, 58, 10, "Syslog UDP Port :"},
        {201, "BUTTON", 0x50010000, 58, 135, 38, 15, "&Apply"},
        {0xFFFF, "BUTTON", 0x50000007, 156, 3, 123, 59, "Indication"},
        {0xFFFF, "STATIC", 0x50020000, 165, 17, 105, 37,
         "Trap Service can receive the trap events from devices such as switches etc. The default UDP port "
         "is 162."},
        {0xFFFF, "BUTTON", 0x50000007, 156, 69, 123, 59, "Indication"},
        {0xFFFF, "STATIC", 0x50020000, 165, 83, 105, 37,
         "Syslog Service can receive the syslog events from devices such as switches etc. The default UDP "
         "port is 514."},
    };
    ASSERT_EQ(count, sizeof expected / sizeof expected[0]);
    for (size_t i = 0; i < count; ++i) {
        const Control& c = expected[i];
        r.AlignDword(data);
        EXPECT_EQ(r.Dword(), c.style) << "control " << i + 1;
        EXPECT_EQ(r.Dword(), 0u) << "control " << i + 1 << " extended style";
        EXPECT_EQ(r.Short(), c.x) << "control " << i + 1;
        EXPECT_EQ(r.Short(), c.y) << "control " << i + 1;
        EXPECT_EQ(r.Short(), c.cx) << "control " << i + 1;
        EXPECT_EQ(r.Short(), c.cy) << "control " << i + 1;
        EXPECT_EQ(r.Word(), c.id) << "control " << i + 1;
        EXPECT_EQ(ClassName(r.SzOrOrd()), c.cls) << "control " << i + 1;
        EXPECT_EQ(r.SzOrOrd(), c.text) << "control " << i + 1;
        EXPECT_EQ(r.Word(), 0) << "control " << i + 1 << " creation data";
    }
}

TEST_F(ResourcesTest, IconIsOne32By32TwentyFourBitImage) {
    DWORD size = 0;
    const BYTE* group = LoadResourceData(module_, MAKEINTRESOURCEA(14), 206, kChineseSimplified, &size);
    ASSERT_NE(group, nullptr) << "icon group 206 tagged 0x0804";
    ASSERT_GE(size, 6u + 14u);
    WORD count;
    std::memcpy(&count, group + 4, 2);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(group[6], 32) << "width";
    EXPECT_EQ(group[7], 32) << "height";
    WORD bits;
    std::memcpy(&bits, group + 6 + 6, 2);
    EXPECT_EQ(bits, 24);
}

TEST_F(ResourcesTest, VersionBlockMarksTheDllSelfRegistering) {
    std::string path = BinPath("Sentrydesk.dll");
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeA(path.c_str(), &handle);
    ASSERT_GT(size, 0u);
    std::vector<char> block(size);
    ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, block.data()));
    struct Case {
        const char* key;
        const char* value;
    } cases[] = {
        {"FileDescription", "Sentrydesk Module"},
        {"FileVersion", "1, 0, 0, 1"},
        {"InternalName", "Sentrydesk"},
        {"OriginalFilename", "Sentrydesk.DLL"},
        {"ProductName", "Sentrydesk Module"},
        {"ProductVersion", "1, 0, 0, 1"},
        {"OLESelfRegister", ""},
        {"CompanyName", ""},
    };
    for (const Case& c : cases) {
        std::string query = std::string("\\StringFileInfo\\040904B0\\") + c.key;
        void* value = nullptr;
        UINT length = 0;
        ASSERT_TRUE(VerQueryValueA(block.data(), query.c_str(), &value, &length)) << c.key;
        EXPECT_STREQ(static_cast<const char*>(value), c.value) << c.key;
    }
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00000001u);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));
    EXPECT_EQ(fixed->dwFileFlags & fixed->dwFileFlagsMask, 0u);
}

}  // namespace
