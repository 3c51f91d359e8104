// Stand-in for the suite's management console: loads an add-in by its ProgID, builds the add-in's
// menu from the add-in's own string resources and runs its command.
//   Console.exe [ProgID]   open the console window (default OVCoreLib.CServiceMgr)
//   Console.exe -r         only register the console's type library
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <cstdio>
#include <string>

#include "console_h.h"

extern "C" const IID IID_IConsoleAddin = {
    0x471CC634, 0xC18C, 0x41E5, {0x90, 0xA8, 0x13, 0xB8, 0x70, 0x41, 0xE8, 0x80}};

namespace {

constexpr const char* kWindowClass = "OrvaneConsole";
constexpr const char* kWindowTitle = "Orvane Console";
constexpr const wchar_t* kDefaultProgId = L"OVCoreLib.CServiceMgr";
constexpr UINT kAddinCommand = 1001;
constexpr int kPromptId = 100;

struct Addin {
    IConsoleAddin* addin = nullptr;
    HINSTANCE resources = nullptr;
    long menuName = 0;
    long menuItem = 0;
    long prompt = 0;
};

Addin g_addin;

template <typename T>
struct ComRelease {
    T* p = nullptr;
    ~ComRelease() {
        if (p) p->Release();
    }
};

HRESULT RegisterConsoleTypeLibrary() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    ComRelease<ITypeLib> library;
    return LoadTypeLibEx(path, REGKIND_REGISTER, &library.p);
}

std::string LoadText(HINSTANCE module, long id) {
    char text[512] = {};
    LoadStringA(module, static_cast<UINT>(id), text, sizeof text);
    return text;
}

// The add-in answers E_NOTIMPL even after storing its value: only the stored value counts.
bool LoadAddin(const wchar_t* progId) {
    CLSID clsid;
    HRESULT hr = CLSIDFromProgID(progId, &clsid);
    if (FAILED(hr)) {
        std::fprintf(stderr, "console: no class for %ls (0x%08lx)\n", progId, hr);
        return false;
    }
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IConsoleAddin,
                          reinterpret_cast<void**>(&g_addin.addin));
    if (FAILED(hr) || g_addin.addin == nullptr) {
        std::fprintf(stderr, "console: cannot create %ls (0x%08lx)\n", progId, hr);
        return false;
    }
#ifdef _WIN64
    hyper instance = 0;
#else
    long instance = 0;
#endif
    g_addin.addin->GetResourceInstance(&instance);
    g_addin.resources = reinterpret_cast<HINSTANCE>(instance);
    g_addin.addin->GetMenuNameId(&g_addin.menuName);
    g_addin.addin->GetMenuItemTextId(&g_addin.menuItem);
    g_addin.addin->GetPromptId(&g_addin.prompt);
    return g_addin.resources != nullptr;
}

// Also says on standard output what it built, for whoever drives the console from outside.
HMENU BuildMenu() {
    HMENU bar = CreateMenu();
    HMENU popup = CreatePopupMenu();
    std::string item = LoadText(g_addin.resources, g_addin.menuItem);
    std::string name = LoadText(g_addin.resources, g_addin.menuName);
    AppendMenuA(popup, MF_STRING, kAddinCommand, item.c_str());
    AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(popup), name.c_str());
    std::printf("menu: %s\nitem: %s (command %u)\n", name.c_str(), item.c_str(), kAddinCommand);
    std::fflush(stdout);
    return bar;
}

// The prompt string holds the status prompt, a line feed, and the tooltip.
std::string PromptLine() {
    std::string text = LoadText(g_addin.resources, g_addin.prompt);
    return text.substr(0, text.find('\n'));
}

LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        std::printf("prompt: %s\n", PromptLine().c_str());
        std::fflush(stdout);
        CreateWindowA("STATIC", PromptLine().c_str(), WS_CHILD | WS_VISIBLE, 8, 8, 400, 20, hwnd,
                      reinterpret_cast<HMENU>(static_cast<INT_PTR>(kPromptId)), nullptr, nullptr);
        return 0;
    case WM_COMMAND:
        if (LOWORD(wParam) == kAddinCommand) g_addin.addin->Execute(0);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

int RunWindow() {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = kWindowClass;
    RegisterClassA(&wc);
    HWND hwnd = CreateWindowA(kWindowClass, kWindowTitle, WS_OVERLAPPEDWINDOW | WS_VISIBLE, 40, 40, 480, 200,
                              nullptr, BuildMenu(), wc.hInstance, nullptr);
    if (hwnd == nullptr) return 1;
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    CoInitialize(nullptr);
    HRESULT hr = RegisterConsoleTypeLibrary();
    if (argc > 1 && std::string(argv[1]) == "-r") {
        std::printf("console type library: 0x%08lx\n", hr);
        CoUninitialize();
        return SUCCEEDED(hr) ? 0 : 1;
    }
    std::wstring progId = kDefaultProgId;
    if (argc > 1) progId.assign(argv[1], argv[1] + std::string(argv[1]).size());
    int rc = LoadAddin(progId.c_str()) ? RunWindow() : 1;
    if (g_addin.addin) g_addin.addin->Release();
    CoUninitialize();
    return rc;
}
