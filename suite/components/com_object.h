// Reference counting and QueryInterface for an object with one interface besides IUnknown.
// Counts are atomic: the classes are registered "Both", so any thread may hold them.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <atomic>
#include <new>

#include "module.h"

namespace orvane_components {

template <class Interface, const IID& kIid>
class ComObject : public Interface {
public:
    ComObject() { ModuleAddRef(); }
    virtual ~ComObject() { ModuleRelease(); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (!out) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, kIid)) {
            *out = static_cast<Interface*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }

    // The usual creation path: a new object handed out through QueryInterface.
    template <class Impl>
    static HRESULT Create(REFIID riid, void** out) {
        Impl* object = new (std::nothrow) Impl();
        if (!object) return E_OUTOFMEMORY;
        HRESULT hr = object->QueryInterface(riid, out);
        object->Release();  // drops the creation reference; QueryInterface holds its own
        return hr;
    }

private:
    std::atomic<ULONG> refs_{1};
};

}  // namespace orvane_components
