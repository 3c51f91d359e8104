// The class factory and the two exports through which COM finds and unloads the classes.
#include <windows.h>
#include <objbase.h>

#include <atomic>
#include <new>

#include "OrvaneComponents.h"
#include "components.h"
#include "module.h"

namespace orvane_components {
namespace {

using Creator = HRESULT (*)(REFIID, void**);

class ClassFactory : public IClassFactory {
 public:
  explicit ClassFactory(Creator create) : create_(create) { ModuleAddRef(); }
  virtual ~ClassFactory() { ModuleRelease(); }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
      *out = static_cast<IClassFactory*>(this);
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
  std::atomic<ULONG> refs_{1};
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
