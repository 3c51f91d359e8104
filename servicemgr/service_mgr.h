// The add-in class: its own empty dual interface and the console's add-in interface.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include "atl_module.h"
#include "console_addin.h"
#include "type_info.h"

MIDL_INTERFACE("A9BCD06A-2BEE-4E64-9235-B15F0F5ADDF0")
ICServiceMgr : public IDispatch{};

namespace sentrydesk {

// IDispatch of a dual interface, answered from the type library that Info holds. Any
// type-information index is accepted, as the console expects.
template <typename Interface, TypeInfoHolder& (*Info)()>
class DispatchFromTypeInfo : public Interface {
public:
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (count == nullptr) return E_POINTER;
        *count = 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID lcid, ITypeInfo** info) override {
        return Info().GetTypeInfo(lcid, info);
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID lcid,
                                            DISPID* ids) override {
        return Info().GetIDsOfNames(lcid, names, count, ids);
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID lcid, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* excep, UINT* argErr) override {
        return Info().Invoke(this, id, lcid, flags, params, result, excep, argErr);
    }
};

// From the module's type library, and from the console's.
using ServiceMgrDispatch = DispatchFromTypeInfo<ICServiceMgr, ServiceMgrTypeInfo>;
using ConsoleAddinDispatch = DispatchFromTypeInfo<IConsoleAddin, ConsoleAddinTypeInfo>;

class CServiceMgr : public ServiceMgrDispatch, public ConsoleAddinDispatch {
public:
    // Class-table creator: pv is the outer object, null for the stand-alone form.
    static HRESULT WINAPI CreateInstance(void* pv, REFIID riid, void** ppv);

    // With an outer object the IUnknown operations of both interfaces go to it.
    explicit CServiceMgr(IUnknown* outer);
    virtual ~CServiceMgr();
    CServiceMgr(const CServiceMgr&) = delete;
    CServiceMgr& operator=(const CServiceMgr&) = delete;

    HRESULT InternalQueryInterface(REFIID riid, void** ppv);

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE GetResourceInstance(HINSTANCE* instance) override;
    HRESULT STDMETHODCALLTYPE GetMenuNameId(long* id) override;
    HRESULT STDMETHODCALLTYPE GetMenuItemTextId(long* id) override;
    HRESULT STDMETHODCALLTYPE GetPromptId(long* id) override;
    HRESULT STDMETHODCALLTYPE ReservedA(long a, long b) override;
    HRESULT STDMETHODCALLTYPE ReservedB(long a, long b, long c) override;
    HRESULT STDMETHODCALLTYPE Execute(long reserved) override;
    HRESULT STDMETHODCALLTYPE GetToolbarMenuTextId(long* id) override;
    HRESULT STDMETHODCALLTYPE GetToolbarNameId(long* id) override;

private:
    friend class CServiceMgrAggregate;
    IUnknown* outer_;
    // Not atomic: the class lives in one apartment's thread at a time for its own count.
    LONG ref_ = 0;
};

// The aggregated form: its own non-delegating IUnknown and count around a contained object.
class CServiceMgrAggregate : public IUnknown {
public:
    explicit CServiceMgrAggregate(IUnknown* outer);
    virtual ~CServiceMgrAggregate();
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

private:
    LONG ref_ = 0;
    CServiceMgr contained_;
};

}  // namespace sentrydesk
