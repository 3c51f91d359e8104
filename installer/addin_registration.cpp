// The add-in registers itself: its own DllRegisterServer, as regsvr32 calls it, writes its class
// keys and type library and announces it to the suite; wixl has no SelfReg table for this.
#include <string>

#include "actions.h"
#include "ovwin/handles.h"

using namespace ovsetup;

namespace {

UINT CallEntry(MSIHANDLE install, const char* entry) {
    std::string path = ActionData(install);
    ovwin::UniqueModule module(LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
    if (!module)
        return Fail(install, "cannot load " + path + " (error " + std::to_string(GetLastError()) + ").");
    using Entry = HRESULT(STDAPICALLTYPE*)();
    auto call = reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(module.get(), entry)));
    if (!call) return Fail(install, path + " has no " + entry + ".");
    HRESULT hr = call();
    if (FAILED(hr)) {
        char code[16];
        wsprintfA(code, "0x%08lX", static_cast<unsigned long>(hr));
        return Fail(install, std::string(entry) + " of " + path + " failed: " + code + ".");
    }
    Log(install, std::string("OVSyslog: ") + entry + " of " + path + " done.");
    return ERROR_SUCCESS;
}

}  // namespace

extern "C" UINT __stdcall RegisterAddin(MSIHANDLE install) { return CallEntry(install, "DllRegisterServer"); }

extern "C" UINT __stdcall UnregisterAddin(MSIHANDLE install) {
    return CallEntry(install, "DllUnregisterServer");
}
