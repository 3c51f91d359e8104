// The console's add-in interface, as the console's type library describes it.
#pragma once

#include <windows.h>
#include <oaidl.h>

// Every argument is 32 bits wide except the resource instance, which is a module handle.
MIDL_INTERFACE("471CC634-C18C-41E5-90A8-13B87041E880")
IConsoleAddin : public IDispatch {
public:
    virtual HRESULT STDMETHODCALLTYPE GetResourceInstance(HINSTANCE * instance) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMenuNameId(long* id) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMenuItemTextId(long* id) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetPromptId(long* id) = 0;
    virtual HRESULT STDMETHODCALLTYPE ReservedA(long a, long b) = 0;
    virtual HRESULT STDMETHODCALLTYPE ReservedB(long a, long b, long c) = 0;
    virtual HRESULT STDMETHODCALLTYPE Execute(long reserved) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetToolbarMenuTextId(long* id) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetToolbarNameId(long* id) = 0;
};

extern "C" const IID IID_IConsoleAddin;
