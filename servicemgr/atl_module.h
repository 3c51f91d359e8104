// The module record, class table entry and interface-map entry as ATL.DLL 3.0 lays them out, and
// the ATL.DLL functions this module imports by ordinal (import library built from atl_*.def).
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <cstddef>

namespace atl30 {

typedef HRESULT(WINAPI CreatorFunc)(void* pv, REFIID riid, void** ppv);
typedef HRESULT(WINAPI CreatorArgFunc)(void* pv, REFIID riid, void** ppv, DWORD_PTR dw);
typedef void(WINAPI TermFunc)(DWORD_PTR dw);
typedef const void*(WINAPI DescriptionFunc)(void);
typedef const void*(CategoryMapFunc)(void);

struct ClassEntry {
    const CLSID* pclsid;
    HRESULT(WINAPI* pfnUpdateRegistry)(BOOL bRegister);
    CreatorFunc* pfnGetClassObject;
    CreatorFunc* pfnCreateInstance;
    IUnknown* pCF;
    DWORD dwRegister;
    DescriptionFunc* pfnGetObjectDescription;
    CategoryMapFunc* pfnGetCategoryMap;
    void(WINAPI* pfnObjectMain)(BOOL bStarting);
};

struct TermFuncElem {
    TermFunc* pFunc;
    DWORD_PTR dw;
    TermFuncElem* pNext;
};

struct CreateWndData {
    void* m_pThis;
    DWORD m_dwThreadID;
    CreateWndData* m_pNext;
};

struct ModuleRecord {
    UINT cbSize;
    HINSTANCE m_hInst;
    HINSTANCE m_hInstResource;
    HINSTANCE m_hInstTypeLib;
    ClassEntry* m_pObjMap;
    LONG m_nLockCnt;
    HANDLE m_hHeap;
    CRITICAL_SECTION m_csTypeInfoHolder;
    CRITICAL_SECTION m_csWindowCreate;
    CRITICAL_SECTION m_csObjMap;
    DWORD dwAtlBuildVer;
    CreateWndData* m_pCreateWndList;
    BOOL m_bDestroyHeap;
    GUID* pguidVer;
    DWORD m_dwHeaps;
    HANDLE* m_phHeaps;
    int m_nHeap;
    TermFuncElem* m_pTermFuncs;
};

// Interface-map entry: pFunc 1 means "dw is the interface's offset in the object"; a null pFunc
// ends the map.
struct InterfaceEntry {
    const IID* piid;
    DWORD_PTR dw;
    CreatorArgFunc* pFunc;
};

inline CreatorArgFunc* const kSimpleMapEntry = reinterpret_cast<CreatorArgFunc*>(1);

#ifdef _WIN64
// ATL.DLL accepts the natural 64-bit layout of the same fields.
static_assert(sizeof(ModuleRecord) == 240, "ATL 3.0 module record, 64-bit");
static_assert(sizeof(ClassEntry) == 72, "ATL 3.0 class entry, 64-bit");
#else
static_assert(sizeof(ModuleRecord) == 132, "ATL 3.0 module record");
static_assert(sizeof(ClassEntry) == 36, "ATL 3.0 class entry");
#endif

}  // namespace atl30

extern "C" {
HRESULT WINAPI AtlModuleGetClassObject(atl30::ModuleRecord* pM, REFCLSID rclsid, REFIID riid, void** ppv);
HRESULT WINAPI AtlModuleInit(atl30::ModuleRecord* pM, atl30::ClassEntry* p, HINSTANCE h);
HRESULT WINAPI AtlModuleRegisterServer(atl30::ModuleRecord* pM, BOOL bRegTypeLib, const CLSID* pCLSID);
HRESULT WINAPI AtlModuleTerm(atl30::ModuleRecord* pM);
IUnknown* WINAPI AtlComPtrAssign(IUnknown** pp, IUnknown* lp);
HRESULT WINAPI AtlInternalQueryInterface(void* pThis, const atl30::InterfaceEntry* pEntries, REFIID iid,
                                         void** ppvObject);
HRESULT WINAPI AtlModuleUnregisterServerEx(atl30::ModuleRecord* pM, BOOL bUnRegTypeLib, const CLSID* pCLSID);
HRESULT WINAPI AtlModuleAddTermFunc(atl30::ModuleRecord* pM, atl30::TermFunc* pFunc, DWORD_PTR dw);
}
