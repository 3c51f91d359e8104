#include "dialog_driver.h"

#include <objbase.h>

#include <chrono>
#include <vector>

#include "../console_addin.h"
#include "ovtest/wait_until.h"

namespace testing_support {
namespace {

const CLSID kClsidServiceMgr = {0xB99B96D3, 0x666A, 0x4B0C, {0xAA, 0xA3, 0xA6, 0xEE, 0x16, 0xC6, 0x6C, 0x8F}};
constexpr DWORD kOpenTimeoutMs = 20000;
constexpr auto kPoll = std::chrono::milliseconds(50);

HWND FindVisible(const char* title) {
    HWND hwnd = FindWindowA("#32770", title);
    return hwnd && IsWindowVisible(hwnd) ? hwnd : nullptr;
}

BOOL CALLBACK CollectStatic(HWND child, LPARAM param) {
    char cls[32] = {};
    GetClassNameA(child, cls, sizeof cls);
    if (lstrcmpiA(cls, "Static") == 0) {
        char text[1024] = {};
        GetWindowTextA(child, text, sizeof text);
        auto* longest = reinterpret_cast<std::string*>(param);
        if (std::string(text).size() > longest->size()) *longest = text;
    }
    return TRUE;
}

}  // namespace

OpenDialog::OpenDialog(HMODULE addin) : addin_(addin) {
    thread_ = CreateThread(nullptr, 0, &OpenDialog::Run, this, 0, nullptr);
    ovtest::WaitUntil(
        [this] {
            HWND hwnd = FindVisible(kDialogTitle);
            // Visible only after its initialisation has filled the controls.
            if (hwnd && GetDlgItem(hwnd, 212) && GetWindowTextLengthA(GetDlgItem(hwnd, 213)) > 0)
                dialog_ = hwnd;
            return dialog_ != nullptr;
        },
        std::chrono::milliseconds(kOpenTimeoutMs), kPoll);
}

OpenDialog::~OpenDialog() {
    if (dialog_ && IsWindow(dialog_)) PostMessageA(dialog_, WM_COMMAND, IDCANCEL, 0);
    WaitClosed(kOpenTimeoutMs);
    if (thread_) CloseHandle(thread_);
}

DWORD WINAPI OpenDialog::Run(void* param) {
    auto* self = static_cast<OpenDialog*>(param);
    CoInitialize(nullptr);
    typedef HRESULT(STDAPICALLTYPE * GetClassObjectFn)(REFCLSID, REFIID, void**);
    auto getClassObject = reinterpret_cast<GetClassObjectFn>(
        reinterpret_cast<void*>(GetProcAddress(self->addin_, "DllGetClassObject")));
    IClassFactory* factory = nullptr;
    IConsoleAddin* addin = nullptr;
    if (getClassObject &&
        getClassObject(kClsidServiceMgr, IID_IClassFactory, reinterpret_cast<void**>(&factory)) == S_OK) {
        factory->CreateInstance(nullptr, IID_IConsoleAddin, reinterpret_cast<void**>(&addin));
        factory->Release();
    }
    if (addin) {
        self->result_ = addin->Execute(0);
        addin->Release();
    } else {
        self->result_ = E_FAIL;
    }
    CoUninitialize();
    return 0;
}

std::string OpenDialog::Text(int id) const {
    char text[1024] = {};
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(Item(id), WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), SMTO_NORMAL, 15000,
                        &ignored);
    return text;
}

void OpenDialog::SetText(int id, const std::string& text) const {
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(Item(id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), SMTO_NORMAL, 15000,
                        &ignored);
}

void OpenDialog::Click(int id) const {
    PostMessageA(dialog_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(Item(id)));
}

std::string OpenDialog::WaitForTextChange(int id, const std::string& from, DWORD timeoutMs) const {
    std::string text;
    ovtest::WaitUntil([&] { return (text = Text(id)) != from; }, std::chrono::milliseconds(timeoutMs), kPoll);
    return text;
}

bool OpenDialog::WaitClosed(DWORD timeoutMs) {
    if (!thread_) return true;
    return WaitForSingleObject(thread_, timeoutMs) == WAIT_OBJECT_0;
}

std::string AnswerMessageBox(DWORD timeoutMs) {
    HWND box = nullptr;
    if (!ovtest::WaitUntil([&] { return (box = FindVisible(kMessageTitle)) != nullptr; },
                           std::chrono::milliseconds(timeoutMs), kPoll))
        return std::string();
    std::string text;
    EnumChildWindows(box, CollectStatic, reinterpret_cast<LPARAM>(&text));
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    ovtest::WaitUntil([&] { return !IsWindow(box); }, std::chrono::seconds(20), kPoll);
    return text;
}

}  // namespace testing_support
