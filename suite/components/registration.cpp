// Self-registration: each class's key under HKCR\CLSID with its in-process server.
#include <windows.h>
#include <olectl.h>

#include <string>

#include "OrvaneComponents.h"
#include "ovwin/handles.h"
#include "module.h"
#include "text.h"

using namespace ovwin;

namespace orvane_components {
namespace {

constexpr const char* kThreadingModel = "Both";

struct ClassEntry {
    const CLSID* clsid;
    const char* description;
};

const ClassEntry kClasses[] = {
    {&kLocalSystemClsid, "Orvane local-system component (stand-in)"},
    {&kServerListClsid, "Orvane server-list component (stand-in)"},
};

LONG SetDefaultAndNamed(const std::string& key, const char* defaultValue, const char* name,
                        const char* value) {
    UniqueHkey k;
    LONG r = RegCreateKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, k.put(),
                             nullptr);
    if (r != ERROR_SUCCESS) return r;
    r = RegSetValueExA(k.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(defaultValue),
                       static_cast<DWORD>(strlen(defaultValue) + 1));
    if (r == ERROR_SUCCESS && name)
        r = RegSetValueExA(k.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                           static_cast<DWORD>(strlen(value) + 1));
    return r;
}

std::string ModulePath() {
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(ModuleInstance(), path, MAX_PATH);
    return (n == 0 || n >= MAX_PATH) ? std::string() : std::string(path, n);
}

HRESULT RegisterClassKeys(const ClassEntry& c, const std::string& modulePath) {
    std::string key = "CLSID\\" + ClsidText(*c.clsid);
    LONG r = SetDefaultAndNamed(key, c.description, nullptr, nullptr);
    if (r == ERROR_SUCCESS)
        r = SetDefaultAndNamed(key + "\\InprocServer32", modulePath.c_str(), "ThreadingModel",
                               kThreadingModel);
    return HRESULT_FROM_WIN32(r);
}

}  // namespace
}  // namespace orvane_components

using namespace orvane_components;

STDAPI DllRegisterServer() {
    std::string path = ModulePath();
    if (path.empty()) return SELFREG_E_CLASS;
    for (const ClassEntry& c : kClasses) {
        HRESULT hr = RegisterClassKeys(c, path);
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

STDAPI DllUnregisterServer() {
    HRESULT result = S_OK;
    for (const ClassEntry& c : kClasses) {
        LONG r = RegDeleteTreeA(HKEY_CLASSES_ROOT, ("CLSID\\" + ClsidText(*c.clsid)).c_str());
        // Unregistering what was never registered is not a failure.
        if (r != ERROR_SUCCESS && r != ERROR_FILE_NOT_FOUND) result = HRESULT_FROM_WIN32(r);
    }
    return result;
}
