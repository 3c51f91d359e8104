// The class object of CServiceMgr: one per class, cached in the class table.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include "atl_module.h"
#include "ovwin/locks.h"

namespace sentrydesk {

class CClassFactory : public IClassFactory {
public:
    // Class-table creator: pv is the class's instance creator.
    static HRESULT WINAPI CreateClassObject(void* pv, REFIID riid, void** ppv);

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override;
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;

private:
    explicit CClassFactory(atl30::CreatorFunc* creator);
    virtual ~CClassFactory();

    LONG ref_ = 0;
    ovwin::CriticalSection lock_;
    atl30::CreatorFunc* creator_;
};

}  // namespace sentrydesk
