#include "class_factory.h"

#include <new>

#include "module.h"

namespace sentrydesk {

CClassFactory::CClassFactory(atl30::CreatorFunc* creator) : creator_(creator) {}

CClassFactory::~CClassFactory() = default;

HRESULT WINAPI CClassFactory::CreateClassObject(void* pv, REFIID riid, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    auto* factory = new (std::nothrow) CClassFactory(reinterpret_cast<atl30::CreatorFunc*>(pv));
    if (factory == nullptr) return E_OUTOFMEMORY;
    HRESULT hr = factory->QueryInterface(riid, ppv);
    if (FAILED(hr)) delete factory;
    return hr;
}

HRESULT STDMETHODCALLTYPE CClassFactory::QueryInterface(REFIID riid, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
        *ppv = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

// The class table's own reference is the first; every reference beyond it holds the module.
ULONG STDMETHODCALLTYPE CClassFactory::AddRef() {
    LONG count;
    {
        ovwin::CriticalLock hold(lock_);
        count = InterlockedIncrement(&ref_);
        if (count == 2) LockModule();
    }
    return static_cast<ULONG>(count);
}

ULONG STDMETHODCALLTYPE CClassFactory::Release() {
    LONG count;
    {
        ovwin::CriticalLock hold(lock_);
        count = InterlockedDecrement(&ref_);
        if (count == 1) UnlockModule();
    }
    if (count == 0) delete this;
    return static_cast<ULONG>(count);
}

HRESULT STDMETHODCALLTYPE CClassFactory::CreateInstance(IUnknown* outer, REFIID riid, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (outer != nullptr && !IsEqualIID(riid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
    return creator_(outer, riid, ppv);
}

HRESULT STDMETHODCALLTYPE CClassFactory::LockServer(BOOL lock) {
    if (lock)
        LockModule();
    else
        UnlockModule();
    return S_OK;
}

}  // namespace sentrydesk
