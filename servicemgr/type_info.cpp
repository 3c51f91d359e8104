#include "type_info.h"

#include "console_addin.h"
#include "ovwin/handles.h"
#include "ids.h"
#include "module.h"

namespace sentrydesk {

TypeInfoHolder::TypeInfoHolder(const GUID* libid, const IID* iid, WORD major, WORD minor)
    : libid_(libid), iid_(iid), major_(major), minor_(minor) {}

HRESULT TypeInfoHolder::Load(LCID lcid) {
    if (info_) return S_OK;
    CRITICAL_SECTION* lock = &TheModule().atl.m_csTypeInfoHolder;
    EnterCriticalSection(lock);
    HRESULT hr = S_OK;
    if (info_ == nullptr) {
        ovwin::ComPtr<ITypeLib> library;
        hr = LoadRegTypeLib(*libid_, major_, minor_, lcid, library.put());
        ovwin::ComPtr<ITypeInfo> info;
        if (SUCCEEDED(hr)) hr = library->GetTypeInfoOfGuid(*iid_, info.put());
        if (SUCCEEDED(hr)) {
            hr = AtlModuleAddTermFunc(&TheModule().atl, &TypeInfoHolder::Release,
                                      reinterpret_cast<DWORD_PTR>(this));
        }
        if (SUCCEEDED(hr)) {
            AtlComPtrAssign(reinterpret_cast<IUnknown**>(&info_), info.get());
            CollectNames();
        }
    }
    LeaveCriticalSection(lock);
    return hr;
}

// Names and ids of the interface's own members, looked up before asking the type information.
void TypeInfoHolder::CollectNames() {
    TYPEATTR* attr = nullptr;
    if (FAILED(info_->GetTypeAttr(&attr))) return;
    for (UINT i = 0; i < attr->cFuncs; ++i) {
        FUNCDESC* func = nullptr;
        if (FAILED(info_->GetFuncDesc(i, &func))) continue;
        BSTR name = nullptr;
        if (SUCCEEDED(info_->GetDocumentation(func->memid, &name, nullptr, nullptr, nullptr)) && name) {
            names_.emplace_back(std::wstring(name, SysStringLen(name)), func->memid);
        }
        SysFreeString(name);
        info_->ReleaseFuncDesc(func);
    }
    info_->ReleaseTypeAttr(attr);
}

void WINAPI TypeInfoHolder::Release(DWORD_PTR holder) {
    auto* self = reinterpret_cast<TypeInfoHolder*>(holder);
    AtlComPtrAssign(reinterpret_cast<IUnknown**>(&self->info_), nullptr);
    self->names_.clear();
}

HRESULT TypeInfoHolder::GetTypeInfo(LCID lcid, ITypeInfo** out) {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    HRESULT hr = Load(lcid);
    if (FAILED(hr)) return hr;
    info_->AddRef();
    *out = info_;
    return S_OK;
}

HRESULT TypeInfoHolder::GetIDsOfNames(LCID lcid, LPOLESTR* names, UINT count, DISPID* ids) {
    HRESULT hr = Load(lcid);
    if (FAILED(hr)) return hr;
    if (count == 1 && names && names[0] && ids) {
        for (const auto& entry : names_) {
            if (CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, entry.first.c_str(), -1, names[0], -1) ==
                CSTR_EQUAL) {
                ids[0] = entry.second;
                return S_OK;
            }
        }
    }
    return info_->GetIDsOfNames(names, count, ids);
}

HRESULT TypeInfoHolder::Invoke(IDispatch* self, DISPID id, LCID lcid, WORD flags, DISPPARAMS* params,
                               VARIANT* result, EXCEPINFO* excep, UINT* argErr) {
    HRESULT hr = Load(lcid);
    if (FAILED(hr)) return hr;
    return info_->Invoke(self, id, flags, params, result, excep, argErr);
}

TypeInfoHolder& ServiceMgrTypeInfo() {
    static TypeInfoHolder holder(&kLibidSentrydesk, &kIidServiceMgr, kLibMajor, kLibMinor);
    return holder;
}

TypeInfoHolder& ConsoleAddinTypeInfo() {
    static TypeInfoHolder holder(&kLibidConsole, &IID_IConsoleAddin, 1, 0);
    return holder;
}

}  // namespace sentrydesk
