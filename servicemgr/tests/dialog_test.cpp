// The services dialog driven live under a display, with the real trap and syslog services under
// Wine's service manager. Run by dialog_test.py, which provides the display.
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "dialog_driver.h"
#include "ovtest/wait_until.h"
#include "test_support.h"

using namespace testing_support;

extern "C" const IID IID_IConsoleAddin = {
    0x471CC634, 0xC18C, 0x41E5, {0x90, 0xA8, 0x13, 0xB8, 0x70, 0x41, 0xE8, 0x80}};

namespace {

const char* const kSyslogKey = "Software\\Telmora\\Orvane\\OVSyslog";
const char* const kTrapKey = "Software\\Telmora\\Orvane\\OVTrap";
constexpr int kClose = 2, kTrapButton = 213, kSyslogEdit = 212, kSyslogButton = 204, kTrapEdit = 210,
              kApply = 201;
constexpr DWORD kServiceTimeoutMs = 15000;
const char* const kNotice = "The update will take in effect only after restart the services.";

DWORD ServiceState(const char* name) {
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service = manager ? OpenServiceA(manager, name, SERVICE_QUERY_STATUS) : nullptr;
    SERVICE_STATUS status = {};
    DWORD state = service && QueryServiceStatus(service, &status) ? status.dwCurrentState : 0;
    if (service) CloseServiceHandle(service);
    if (manager) CloseServiceHandle(manager);
    return state;
}

bool WaitState(const char* name, DWORD wanted) {
    return ovtest::WaitUntil([&] { return ServiceState(name) == wanted; },
                             std::chrono::milliseconds(kServiceTimeoutMs), std::chrono::milliseconds(100));
}

// Puts a service into the wanted state behind the dialog's back.
bool SetRunning(const char* name, bool running) {
    DWORD wanted = running ? SERVICE_RUNNING : SERVICE_STOPPED;
    if (ServiceState(name) == wanted) return true;
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service = manager ? OpenServiceA(manager, name, SERVICE_ALL_ACCESS) : nullptr;
    if (service) {
        SERVICE_STATUS status;
        if (running)
            StartServiceA(service, 0, nullptr);
        else
            ControlService(service, SERVICE_CONTROL_STOP, &status);
        CloseServiceHandle(service);
    }
    if (manager) CloseServiceHandle(manager);
    return WaitState(name, wanted);
}

int FreeUdpPort() {
    SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    int length = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &length);
    closesocket(s);
    return ntohs(a.sin_port);
}

struct Service {
    const char* name;
    const char* key;
    int button;
    const char* stopCaption;
    const char* startCaption;
};

const Service kServices[] = {
    {"OVTrap", kTrapKey, kTrapButton, "Stop Trap Service", "Start Trap Service"},
    {"OVSyslog", kSyslogKey, kSyslogButton, "Stop Syslog Service", "Start Syslog Service"},
};

class DialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        WSADATA wsa;
        WSAStartup(MAKEWORD(2, 2), &wsa);
        addin_ = LoadLibraryA(BinPath("Sentrydesk.dll").c_str());
        ASSERT_NE(addin_, nullptr);
        for (const Service& s : kServices) {
            ASSERT_NE(ServiceState(s.name), 0u) << s.name << " is not installed";
            ASSERT_TRUE(SetRunning(s.name, false)) << s.name;
            WriteString(HKEY_LOCAL_MACHINE, s.key, "AuthPort", std::to_string(FreeUdpPort()));
        }
    }
    void TearDown() override {
        for (const Service& s : kServices) SetRunning(s.name, false);
        FreeLibrary(addin_);
        WSACleanup();
    }
    HMODULE addin_ = nullptr;
};

TEST_F(DialogTest, ShowsBothPortsFromTheRegistryOrTheDefaults) {
    struct Case {
        const char* name;
        const char* syslog;  // null: key missing
        const char* trap;
        const char* shownSyslog;
        const char* shownTrap;
    } cases[] = {
        {"both keys missing", nullptr, nullptr, "514", "162"},
        {"empty values", "", "", "514", "162"},
        {"stored ports", "1514", "2162", "1514", "2162"},
        {"stored texts are shown unchanged", "abc", "70000", "abc", "70000"},
    };
    for (const Case& c : cases) {
        DeleteTree(HKEY_LOCAL_MACHINE, kSyslogKey);
        DeleteTree(HKEY_LOCAL_MACHINE, kTrapKey);
        if (c.syslog) WriteString(HKEY_LOCAL_MACHINE, kSyslogKey, "AuthPort", c.syslog);
        if (c.trap) WriteString(HKEY_LOCAL_MACHINE, kTrapKey, "AuthPort", c.trap);
        OpenDialog dialog(addin_);
        ASSERT_NE(dialog.hwnd(), nullptr) << c.name;
        EXPECT_EQ(dialog.Text(kSyslogEdit), c.shownSyslog) << c.name;
        EXPECT_EQ(dialog.Text(kTrapEdit), c.shownTrap) << c.name;
        EXPECT_FALSE(IsWindowEnabled(dialog.Item(kTrapEdit))) << c.name;
        EXPECT_TRUE(IsWindowEnabled(dialog.Item(kSyslogEdit))) << c.name;
        EXPECT_NE(SendMessageA(dialog.hwnd(), WM_GETICON, ICON_BIG, 0), 0) << c.name;
    }
}

TEST_F(DialogTest, CaptionsFollowTheServicesStates) {
    for (bool trapRunning : {false, true}) {
        for (bool syslogRunning : {false, true}) {
            ASSERT_TRUE(SetRunning("OVTrap", trapRunning));
            ASSERT_TRUE(SetRunning("OVSyslog", syslogRunning));
            OpenDialog dialog(addin_);
            ASSERT_NE(dialog.hwnd(), nullptr);
            EXPECT_EQ(dialog.Text(kTrapButton), trapRunning ? "Stop Trap Service" : "Start Trap Service");
            EXPECT_EQ(dialog.Text(kSyslogButton),
                      syslogRunning ? "Stop Syslog Service" : "Start Syslog Service");
        }
    }
}

TEST_F(DialogTest, ButtonsStartAndStopTheRealServices) {
    for (const Service& s : kServices) {
        OpenDialog dialog(addin_);
        ASSERT_NE(dialog.hwnd(), nullptr) << s.name;
        ASSERT_EQ(dialog.Text(s.button), s.startCaption) << s.name;
        dialog.Click(s.button);
        EXPECT_EQ(dialog.WaitForTextChange(s.button, s.startCaption, kServiceTimeoutMs), s.stopCaption)
            << s.name;
        EXPECT_EQ(ServiceState(s.name), static_cast<DWORD>(SERVICE_RUNNING)) << s.name;
        EXPECT_EQ(AnswerMessageBox(500), "") << s.name << ": no message after a success";
        dialog.Click(s.button);
        EXPECT_EQ(dialog.WaitForTextChange(s.button, s.stopCaption, kServiceTimeoutMs), s.startCaption)
            << s.name;
        EXPECT_TRUE(WaitState(s.name, SERVICE_STOPPED)) << s.name;
    }
}

TEST_F(DialogTest, AStartThatStopsAgainKeepsTheStartCaptionAndSaysSo) {
    for (const Service& s : kServices) {
        // Another program holds the service's port.
        SOCKET holder = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
        sockaddr_in a = {};
        a.sin_family = AF_INET;
        ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        int length = sizeof a;
        getsockname(holder, reinterpret_cast<sockaddr*>(&a), &length);
        WriteString(HKEY_LOCAL_MACHINE, s.key, "AuthPort", std::to_string(ntohs(a.sin_port)));

        OpenDialog dialog(addin_);
        ASSERT_NE(dialog.hwnd(), nullptr) << s.name;
        dialog.Click(s.button);
        std::string message = AnswerMessageBox(kServiceTimeoutMs);
        EXPECT_NE(message.find("stopped again"), std::string::npos) << s.name << ": " << message;
        EXPECT_NE(message.find(s.name), std::string::npos) << s.name << ": " << message;
        EXPECT_EQ(dialog.Text(s.button), s.startCaption) << s.name;
        EXPECT_EQ(ServiceState(s.name), static_cast<DWORD>(SERVICE_STOPPED)) << s.name;
        closesocket(holder);
    }
}

TEST_F(DialogTest, ApplyStoresOnlyAValidPort) {
    struct Case {
        const char* name;
        bool keyExists;
        const char* typed;
        const char* stored;  // null: the value keeps "old"
        const char* message;
    } cases[] = {
        {"a port", true, "600", "600", kNotice},
        {"the highest port", true, "65535", "65535", kNotice},
        {"white space around", true, "  700 ", "700", kNotice},
        {"leading zeros", true, "0800", "800", kNotice},
        {"empty means the default", true, "", "", kNotice},
        {"zero", true, "0", nullptr, "1 to 65535"},
        {"above the range", true, "65536", nullptr, "1 to 65535"},
        {"far above", true, "99999999999", nullptr, "1 to 65535"},
        {"not a number", true, "abc", nullptr, "1 to 65535"},
        {"trailing text", true, "1514xyz", nullptr, "1 to 65535"},
        {"negative", true, "-5", nullptr, "1 to 65535"},
        {"key missing", false, "600", nullptr, "was not saved"},
    };
    for (const Case& c : cases) {
        DeleteTree(HKEY_LOCAL_MACHINE, kSyslogKey);
        if (c.keyExists) WriteString(HKEY_LOCAL_MACHINE, kSyslogKey, "AuthPort", "old");
        std::string trapBefore = ReadString(HKEY_LOCAL_MACHINE, kTrapKey, "AuthPort");
        OpenDialog dialog(addin_);
        ASSERT_NE(dialog.hwnd(), nullptr) << c.name;
        dialog.SetText(kSyslogEdit, c.typed);
        dialog.Click(kApply);
        std::string message = AnswerMessageBox(5000);
        EXPECT_NE(message.find(c.message), std::string::npos) << c.name << ": " << message;
        EXPECT_TRUE(IsWindow(dialog.hwnd())) << c.name << ": Apply closed the dialog";
        if (!c.keyExists)
            EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kSyslogKey)) << c.name;
        else
            EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kSyslogKey, "AuthPort"), c.stored ? c.stored : "old")
                << c.name;
        EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kTrapKey, "AuthPort"), trapBefore) << c.name;
    }
    WriteString(HKEY_LOCAL_MACHINE, kSyslogKey, "AuthPort", "514");
}

TEST_F(DialogTest, EnterValidatesBothEditsAndStoresNothing) {
    struct Case {
        const char* name;
        const char* syslog;
        const char* trap;
        bool closes;
        const char* message;
        // The edit that gets the focus back; 0 for the disabled trap edit, which cannot.
        int focused;
    } cases[] = {
        {"both inside", "600", "162", true, nullptr, 0},
        {"both ends", "65535", "1", true, nullptr, 0},
        {"syslog zero", "0", "162", false, "from 1 to 65535", kSyslogEdit},
        {"syslog above the range", "65536", "162", false, "from 1 to 65535", kSyslogEdit},
        {"syslog not a number", "x1", "162", false, "whole number", kSyslogEdit},
        {"trap above the range", "600", "70000", false, "from 1 to 65535", 0},
    };
    for (const Case& c : cases) {
        WriteString(HKEY_LOCAL_MACHINE, kSyslogKey, "AuthPort", "514");
        WriteString(HKEY_LOCAL_MACHINE, kTrapKey, "AuthPort", c.trap);
        OpenDialog dialog(addin_);
        ASSERT_NE(dialog.hwnd(), nullptr) << c.name;
        dialog.SetText(kSyslogEdit, c.syslog);
        PostMessageA(dialog.hwnd(), WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        if (c.closes) {
            EXPECT_TRUE(dialog.WaitClosed(5000)) << c.name;
        } else {
            std::string message = AnswerMessageBox(5000);
            EXPECT_NE(message.find(c.message), std::string::npos) << c.name << ": " << message;
            EXPECT_FALSE(dialog.WaitClosed(300)) << c.name;
            if (c.focused) {
                GUITHREADINFO info = {};
                info.cbSize = sizeof info;
                GetGUIThreadInfo(GetWindowThreadProcessId(dialog.hwnd(), nullptr), &info);
                EXPECT_EQ(info.hwndFocus, dialog.Item(c.focused)) << c.name;
            }
        }
        EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kSyslogKey, "AuthPort"), "514") << c.name;
    }
}

TEST_F(DialogTest, CloseEndsTheDialogWithoutSaving) {
    WriteString(HKEY_LOCAL_MACHINE, kSyslogKey, "AuthPort", "514");
    struct Case {
        const char* name;
        UINT message;
        WPARAM wParam;
    } cases[] = {{"Close button", WM_COMMAND, MAKEWPARAM(kClose, BN_CLICKED)}, {"close box", WM_CLOSE, 0}};
    for (const Case& c : cases) {
        OpenDialog dialog(addin_);
        ASSERT_NE(dialog.hwnd(), nullptr) << c.name;
        dialog.SetText(kSyslogEdit, "999");
        PostMessageA(dialog.hwnd(), c.message, c.wParam, 0);
        ASSERT_TRUE(dialog.WaitClosed(5000)) << c.name;
        EXPECT_EQ(dialog.executeResult(), E_NOTIMPL) << c.name;
        EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kSyslogKey, "AuthPort"), "514") << c.name;
    }
}

BOOL CALLBACK NeedsPaint(HWND child, LPARAM any) {
    if (GetUpdateRect(child, nullptr, FALSE)) *reinterpret_cast<bool*>(any) = true;
    return TRUE;
}

// True once neither the dialog nor any of its controls has anything left to paint.
bool WaitPainted(HWND dialog, DWORD timeoutMs) {
    auto painted = [dialog] {
        bool pending = GetUpdateRect(dialog, nullptr, FALSE) != FALSE;
        EnumChildWindows(dialog, NeedsPaint, reinterpret_cast<LPARAM>(&pending));
        // A sent message returns after the dialog's thread has handled what came before it.
        DWORD_PTR ignored = 0;
        SendMessageTimeoutA(dialog, WM_NULL, 0, 0, SMTO_BLOCK, 1000, &ignored);
        return !pending;
    };
    return ovtest::WaitUntil(painted, std::chrono::milliseconds(timeoutMs), std::chrono::milliseconds(50));
}

// Lets the script take a screenshot while the dialog is open.
TEST_F(DialogTest, OpenDialogForTheScreenshot) {
    const char* dir = std::getenv("OVS_SHOT_DIR");
    if (dir == nullptr) GTEST_SKIP() << "no screenshot requested";
    WriteString(HKEY_LOCAL_MACHINE, kSyslogKey, "AuthPort", "514");
    WriteString(HKEY_LOCAL_MACHINE, kTrapKey, "AuthPort", std::to_string(FreeUdpPort()));
    ASSERT_TRUE(SetRunning("OVTrap", true));
    OpenDialog dialog(addin_);
    ASSERT_NE(dialog.hwnd(), nullptr);
    ASSERT_TRUE(WaitPainted(dialog.hwnd(), 20000)) << "the dialog never finished painting";
    std::string open = std::string(dir) + "\\dialog-open.flag";
    std::string done = std::string(dir) + "\\dialog-shot.flag";
    DeleteFileA(done.c_str());
    std::ofstream(open.c_str()) << "open\n";
    bool taken =
        ovtest::WaitUntil([&] { return GetFileAttributesA(done.c_str()) != INVALID_FILE_ATTRIBUTES; },
                          std::chrono::seconds(30), std::chrono::milliseconds(100));
    DeleteFileA(open.c_str());
    EXPECT_TRUE(taken) << "the script took no screenshot";
}

}  // namespace

namespace {

HWND WaitForWindow(const char* cls, const char* title, DWORD timeoutMs) {
    HWND hwnd = nullptr;
    ovtest::WaitUntil(
        [&] {
            hwnd = FindWindowA(cls, title);
            return hwnd && IsWindowVisible(hwnd);
        },
        std::chrono::milliseconds(timeoutMs), std::chrono::milliseconds(50));
    return hwnd && IsWindowVisible(hwnd) ? hwnd : nullptr;
}

// The console stand-in in its own process: the add-in's menu, prompt and command.
TEST_F(DialogTest, ConsoleShowsTheAddinsMenuAndOpensTheDialog) {
    std::string dll = "\"" + BinPath("Sentrydesk.dll") + "\"";
    ASSERT_EQ(RunProgram("regsvr32 /s " + dll).exitCode, 0u);
    std::string outPath = BinPath("console-test.out");
    HANDLE process = StartProgram("\"" + BinPath("Console.exe") + "\"", outPath);
    ASSERT_NE(process, nullptr);
    HWND console = WaitForWindow("OrvaneConsole", "Orvane Console", 20000);
    ASSERT_NE(console, nullptr);

    // Wine does not show another process's menus reliably: the console reports what it built.
    EXPECT_NE(GetMenu(console), nullptr);
    std::ifstream reported(outPath.c_str());
    std::string all((std::istreambuf_iterator<char>(reported)), std::istreambuf_iterator<char>());
    for (const char* expected : {"menu: A&dvanced\n", "item: &Services Manager... (command 1001)\n",
                                 "prompt: Configure Trap & Syslog services\n"})
        EXPECT_NE(all.find(expected), std::string::npos) << expected << " in\n" << all;

    PostMessageA(console, WM_COMMAND, MAKEWPARAM(1001, 0), 0);
    HWND dialog = WaitForWindow("#32770", kDialogTitle, 20000);
    ASSERT_NE(dialog, nullptr) << "the menu item did not open the dialog";
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    EXPECT_TRUE(ovtest::WaitUntil([&] { return !IsWindow(dialog); }, std::chrono::seconds(20),
                                  std::chrono::milliseconds(50)));

    PostMessageA(console, WM_CLOSE, 0, 0);
    EXPECT_EQ(WaitForSingleObject(process, 20000), WAIT_OBJECT_0);
    DWORD code = 1;
    GetExitCodeProcess(process, &code);
    EXPECT_EQ(code, 0u);
    CloseHandle(process);
    RunProgram("regsvr32 /s /u " + dll);
}

}  // namespace
