// The add-in class: its own empty dual interface and the console's add-in interface.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include "atl_module.h"
#include "console_addin.h"

MIDL_INTERFACE("A9BCD06A-2BEE-4E64-9235-B15F0F5ADDF0")
ICServiceMgr : public IDispatch {};

namespace sentrydesk {

// IDispatch of ICServiceMgr, answered from the module's type library.
class ServiceMgrDispatch : public ICServiceMgr {
public:
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid,
                                            DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags,
                                     DISPPARAMS* params, VARIANT* result, EXCEPINFO* excep,
                                     UINT* argErr) override;
};

// IDispatch of IConsoleAddin, answered from the console's type library.
class ConsoleAddinDispatch : public IConsoleAddin {
public:
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid,
                                            DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags,
                                     DISPPARAMS* params, VARIANT* result, EXCEPINFO* excep,
                                     UINT* argErr) override;
};

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
