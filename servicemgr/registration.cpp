#include "registration.h"

#include <cstring>
#include <string>

#include "ovwin/handles.h"
#include "ids.h"
#include "module.h"
#include "reg_tree.h"
#include "resource.h"

namespace sentrydesk {
namespace {

constexpr int kDescriptionSize = 256;

// Entry 7 of the local-system component's interface.
struct LocalSystemVtbl {
    void* entries[7];
    HRESULT(STDMETHODCALLTYPE* RegisterAddinClass)(void* self, const CLSID* clsid, long value);
};

std::string ClsidText(const CLSID& clsid) {
    ovwin::UniqueCoMem<LPOLESTR> wide;
    if (FAILED(StringFromCLSID(clsid, wide.put()))) return std::string();
    char text[64] = {};
    WideCharToMultiByte(CP_ACP, 0, wide.get(), -1, text, sizeof text, nullptr, nullptr);
    return text;
}

void SetDefault(HKEY key, const char* subKey, const char* value) {
    ovwin::UniqueHkey sub;
    HKEY target = key;
    if (subKey) {
        if (RegCreateKeyExA(key, subKey, 0, nullptr, 0, KEY_WRITE, nullptr, sub.put(), nullptr) !=
            ERROR_SUCCESS)
            return;
        target = sub.get();
    }
    RegSetValueExA(target, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                   static_cast<DWORD>(std::strlen(value) + 1));
}

LONG WriteProgId(const char* progId, const char* description, const char* clsid) {
    ovwin::UniqueHkey key;
    LONG error =
        RegCreateKeyExA(HKEY_CLASSES_ROOT, progId, 0, nullptr, 0, KEY_WRITE, nullptr, key.put(), nullptr);
    if (error != ERROR_SUCCESS) return error;
    SetDefault(key.get(), nullptr, description);
    SetDefault(key.get(), "CLSID", clsid);
    return ERROR_SUCCESS;
}

LONG WriteClassKey(const char* description, const char* clsid, const char* path) {
    ovwin::UniqueHkey classes;
    LONG error = RegOpenKeyExA(HKEY_CLASSES_ROOT, "CLSID", 0, KEY_READ | KEY_WRITE, classes.put());
    if (error != ERROR_SUCCESS) return error;
    ovwin::UniqueHkey key;
    error = RegCreateKeyExA(classes.get(), clsid, 0, nullptr, 0, KEY_WRITE, nullptr, key.put(), nullptr);
    if (error != ERROR_SUCCESS) return error;
    SetDefault(key.get(), nullptr, description);
    SetDefault(key.get(), "ProgID", kProgId);
    SetDefault(key.get(), "VersionIndependentProgID", kVersionIndependentProgId);
    ovwin::UniqueHkey server;
    if (RegCreateKeyExA(key.get(), "InprocServer32", 0, nullptr, 0, KEY_WRITE, nullptr, server.put(),
                        nullptr) == ERROR_SUCCESS) {
        SetDefault(server.get(), nullptr, path);
        RegSetValueExA(server.get(), "ThreadingModel", 0, REG_SZ,
                       reinterpret_cast<const BYTE*>(kThreadingModel),
                       static_cast<DWORD>(std::strlen(kThreadingModel) + 1));
    }
    return ERROR_SUCCESS;
}

HRESULT Register() {
    char description[kDescriptionSize] = {};
    LoadStringA(ModuleInstance(), IDS_CLASS_DESCRIPTION, description, kDescriptionSize);
    char path[MAX_PATH] = {};
    GetModuleFileNameA(ModuleInstance(), path, MAX_PATH);
    std::string clsid = ClsidText(kClsidServiceMgr);

    LONG error = WriteProgId(kProgId, description, clsid.c_str());
    if (error == ERROR_SUCCESS) error = WriteProgId(kVersionIndependentProgId, description, clsid.c_str());
    if (error == ERROR_SUCCESS) error = WriteClassKey(description, clsid.c_str(), path);
    return error == ERROR_SUCCESS ? S_OK : static_cast<HRESULT>(0x80070000u | (error & 0xFFFF));
}

HRESULT Unregister() {
    for (const char* name : {kProgId, kVersionIndependentProgId}) {
        if (name == nullptr || *name == '\0') continue;
        DeleteKeyTree(HKEY_CLASSES_ROOT, name);
    }
    std::string clsid = ClsidText(kClsidServiceMgr);
    ovwin::UniqueHkey classes;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, "CLSID", 0, KEY_READ | KEY_WRITE, classes.put()) == ERROR_SUCCESS)
        DeleteKeyTree(classes.get(), clsid.c_str());
    return S_OK;
}

// Tells the suite of every class in the table before any key of the class exists.
void AnnounceClasses() {
    void* component = nullptr;
    CoCreateInstance(kClsidLocalSystem, nullptr, kLocalSystemContext, kIidLocalSystem, &component);
    if (component == nullptr) return;
    auto* vtbl = *static_cast<LocalSystemVtbl**>(component);
    for (const atl30::ClassEntry* entry = TheModule().atl.m_pObjMap; entry->pclsid; ++entry)
        vtbl->RegisterAddinClass(component, entry->pclsid, kAnnounceValue);
    static_cast<IUnknown*>(component)->Release();
}

// The type library's attributes as the module holds them, for removing its registration.
HRESULT UnregisterTypeLibrary() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(TheModule().atl.m_hInstTypeLib, path, MAX_PATH);
    ovwin::ComPtr<ITypeLib> library;
    HRESULT hr = LoadTypeLibEx(path, REGKIND_NONE, library.put());
    if (FAILED(hr)) return hr;
    TLIBATTR* attr = nullptr;
    hr = library->GetLibAttr(&attr);
    if (FAILED(hr)) return hr;
    hr = UnRegisterTypeLib(attr->guid, attr->wMajorVerNum, attr->wMinorVerNum, attr->lcid, attr->syskind);
    library->ReleaseTLibAttr(attr);
    return hr;
}

}  // namespace

HRESULT WINAPI UpdateServiceMgrRegistry(BOOL doRegister) { return doRegister ? Register() : Unregister(); }

}  // namespace sentrydesk

using namespace sentrydesk;

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() {
    // COM may not be started on the registering thread (regsvr32 starts it; an installer may not).
    HRESULT init = CoInitialize(nullptr);
    AnnounceClasses();
    if (SUCCEEDED(init)) CoUninitialize();
    return AtlModuleRegisterServer(&TheModule().atl, TRUE, nullptr);
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() {
    HRESULT hr = AtlModuleUnregisterServerEx(&TheModule().atl, TRUE, nullptr);
    // ATL.DLL removes nothing here: undo the class keys and the library registration ourselves.
    for (const atl30::ClassEntry* entry = TheModule().atl.m_pObjMap; entry->pclsid; ++entry)
        entry->pfnUpdateRegistry(FALSE);
    UnregisterTypeLibrary();
    return hr;
}
