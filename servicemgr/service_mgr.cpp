#include "service_mgr.h"

#include <new>

#include "ids.h"
#include "module.h"
#include "resource.h"
#include "service_mgr_dlg.h"
#include "type_info.h"

namespace sentrydesk {
namespace {

// Offset of an interface inside CServiceMgr, for the interface map.
template <typename Interface>
DWORD_PTR OffsetOf() {
    auto* object = reinterpret_cast<CServiceMgr*>(0x1000);
    return reinterpret_cast<DWORD_PTR>(static_cast<Interface*>(object)) - 0x1000;
}

// The first entry is also the object's IUnknown.
const atl30::InterfaceEntry* InterfaceMap() {
    static const atl30::InterfaceEntry entries[] = {
        {&kIidServiceMgr, OffsetOf<ICServiceMgr>(), atl30::kSimpleMapEntry},
        {&IID_IDispatch, OffsetOf<ICServiceMgr>(), atl30::kSimpleMapEntry},
        {&IID_IConsoleAddin, OffsetOf<IConsoleAddin>(), atl30::kSimpleMapEntry},
        {nullptr, 0, nullptr},
    };
    return entries;
}

HRESULT StoreId(long* out, long id) {
    if (out == nullptr) return E_POINTER;
    *out = id;
    return E_NOTIMPL;
}

}  // namespace

HRESULT WINAPI CServiceMgr::CreateInstance(void* pv, REFIID riid, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    auto* outer = static_cast<IUnknown*>(pv);
    HRESULT hr;
    if (outer == nullptr) {
        auto* object = new (std::nothrow) CServiceMgr(nullptr);
        if (object == nullptr) return E_OUTOFMEMORY;
        object->ref_ = 1;  // keeps the object alive through a failing QueryInterface
        hr = object->QueryInterface(riid, ppv);
        object->Release();
    } else {
        auto* object = new (std::nothrow) CServiceMgrAggregate(outer);
        if (object == nullptr) return E_OUTOFMEMORY;
        object->AddRef();
        hr = object->QueryInterface(riid, ppv);
        object->Release();
    }
    return hr;
}

CServiceMgr::CServiceMgr(IUnknown* outer) : outer_(outer) { LockModule(); }

CServiceMgr::~CServiceMgr() { UnlockModule(); }

HRESULT CServiceMgr::InternalQueryInterface(REFIID riid, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    // ATL.DLL leaves the out pointer alone when it finds nothing.
    *ppv = nullptr;
    return AtlInternalQueryInterface(this, InterfaceMap(), riid, ppv);
}

HRESULT STDMETHODCALLTYPE CServiceMgr::QueryInterface(REFIID riid, void** ppv) {
    if (outer_ == nullptr) return InternalQueryInterface(riid, ppv);
    if (ppv == nullptr) return E_POINTER;
    HRESULT hr = outer_->QueryInterface(riid, ppv);
    if (FAILED(hr)) hr = InternalQueryInterface(riid, ppv);
    return hr;
}

ULONG STDMETHODCALLTYPE CServiceMgr::AddRef() {
    if (outer_) return outer_->AddRef();
    return static_cast<ULONG>(++ref_);
}

ULONG STDMETHODCALLTYPE CServiceMgr::Release() {
    if (outer_) return outer_->Release();
    LONG count = --ref_;
    if (count == 0) delete this;
    return static_cast<ULONG>(count);
}

HRESULT STDMETHODCALLTYPE CServiceMgr::GetResourceInstance(HINSTANCE* instance) {
    if (instance == nullptr) return E_POINTER;
    *instance = ModuleInstance();
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE CServiceMgr::GetMenuNameId(long* id) { return StoreId(id, IDS_MENU_NAME); }
HRESULT STDMETHODCALLTYPE CServiceMgr::GetMenuItemTextId(long* id) { return StoreId(id, IDS_MENU_ITEM); }
HRESULT STDMETHODCALLTYPE CServiceMgr::GetPromptId(long* id) { return StoreId(id, IDS_PROMPT); }
HRESULT STDMETHODCALLTYPE CServiceMgr::ReservedA(long, long) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE CServiceMgr::ReservedB(long, long, long) { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE CServiceMgr::Execute(long) {
    CServiceMgrDlg dialog(nullptr);
    dialog.DoModal();
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE CServiceMgr::GetToolbarMenuTextId(long* id) {
    return StoreId(id, IDS_TOOLBAR_MENU);
}
HRESULT STDMETHODCALLTYPE CServiceMgr::GetToolbarNameId(long* id) { return StoreId(id, IDS_TOOLBAR_NAME); }

// The contained object's lock on the module is the instance's; this wrapper takes none.
CServiceMgrAggregate::CServiceMgrAggregate(IUnknown* outer) : contained_(outer) {}

CServiceMgrAggregate::~CServiceMgrAggregate() = default;

HRESULT STDMETHODCALLTYPE CServiceMgrAggregate::QueryInterface(REFIID riid, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown)) {
        *ppv = static_cast<IUnknown*>(this);
        AddRef();
        return S_OK;
    }
    return contained_.InternalQueryInterface(riid, ppv);
}

ULONG STDMETHODCALLTYPE CServiceMgrAggregate::AddRef() { return static_cast<ULONG>(++ref_); }

ULONG STDMETHODCALLTYPE CServiceMgrAggregate::Release() {
    LONG count = --ref_;
    if (count == 0) delete this;
    return static_cast<ULONG>(count);
}

}  // namespace sentrydesk
