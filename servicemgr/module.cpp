// Start and end of the module, and its class-object and unload entry points.
#include "module.h"

#include "class_factory.h"
#include "ids.h"
#include "ovwin/locks.h"
#include "registration.h"
#include "service_mgr.h"

namespace sentrydesk {
namespace {

Module g_module;

const void* WINAPI NoDescription() { return nullptr; }
// ATL.DLL calls this unconditionally during registration: it must exist and return null.
const void* NoCategories() { return nullptr; }
void WINAPI NoObjectMain(BOOL) {}

atl30::ClassEntry g_classes[] = {
    {&kClsidServiceMgr, &UpdateServiceMgrRegistry, &CClassFactory::CreateClassObject,
     &CServiceMgr::CreateInstance, nullptr, 0, &NoDescription, &NoCategories, &NoObjectMain},
    {nullptr, nullptr, nullptr, nullptr, nullptr, 0, nullptr, nullptr, nullptr},
};

void StartModule(HINSTANCE instance) {
    g_module.atl.cbSize = sizeof(g_module.atl);
    AtlModuleInit(&g_module.atl, g_classes, instance);
    g_module.libid = kLibidSentrydesk;
}

void EndModule() {
    AtlModuleTerm(&g_module.atl);
    // ATL.DLL leaves the cached class objects to us.
    for (atl30::ClassEntry* entry = g_classes; entry->pclsid; ++entry) {
        if (entry->pCF) {
            IUnknown* cached = entry->pCF;
            entry->pCF = nullptr;
            cached->Release();
        }
    }
    DeleteCriticalSection(&g_module.atl.m_csTypeInfoHolder);
    DeleteCriticalSection(&g_module.atl.m_csWindowCreate);
    DeleteCriticalSection(&g_module.atl.m_csObjMap);
}

}  // namespace

Module& TheModule() { return g_module; }
HINSTANCE ModuleInstance() { return g_module.atl.m_hInst; }
void LockModule() { InterlockedIncrement(&g_module.atl.m_nLockCnt); }
void UnlockModule() { InterlockedDecrement(&g_module.atl.m_nLockCnt); }
LONG ModuleLockCount() { return ovwin::AtomicRead(g_module.atl.m_nLockCnt); }

}  // namespace sentrydesk

using namespace sentrydesk;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(instance);
        StartModule(instance);
    } else if (reason == DLL_PROCESS_DETACH) {
        EndModule();
    }
    return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() { return ModuleLockCount() == 0 ? S_OK : S_FALSE; }

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    // ATL.DLL makes and caches the class object without a lock of its own.
    EnterCriticalSection(&g_module.atl.m_csObjMap);
    HRESULT hr = AtlModuleGetClassObject(&g_module.atl, rclsid, riid, ppv);
    LeaveCriticalSection(&g_module.atl.m_csObjMap);
    return hr;
}
