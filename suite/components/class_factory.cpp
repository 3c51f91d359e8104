// The class factory and the two exports through which COM finds and unloads the classes.
#include <windows.h>
#include <objbase.h>

#include <new>

#include "OrvaneComponents.h"
#include "com_object.h"
#include "components.h"
#include "module.h"

namespace orvane_components {
namespace {

using Creator = HRESULT (*)(REFIID, void**);

class ClassFactory : public ComObject<IClassFactory, IID_IClassFactory> {
public:
    explicit ClassFactory(Creator create) : create_(create) {}

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        return create_(riid, out);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        if (lock)
            ModuleAddRef();
        else
            ModuleRelease();
        return S_OK;
    }

private:
    Creator create_;
};

Creator CreatorFor(REFCLSID clsid) {
    if (IsEqualCLSID(clsid, kLocalSystemClsid)) return CreateLocalSystem;
    if (IsEqualCLSID(clsid, kServerListClsid)) return CreateServerList;
    return nullptr;
}

}  // namespace
}  // namespace orvane_components

using namespace orvane_components;

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    Creator create = CreatorFor(clsid);
    if (!create) return CLASS_E_CLASSNOTAVAILABLE;
    ClassFactory* factory = new (std::nothrow) ClassFactory(create);
    if (!factory) return E_OUTOFMEMORY;
    HRESULT hr = factory->QueryInterface(riid, out);
    factory->Release();
    return hr;
}

STDAPI DllCanUnloadNow() { return ModuleInUse() ? S_FALSE : S_OK; }
