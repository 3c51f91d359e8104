// Type information of one dual interface, loaded from its registered library on first need and
// held until module end.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <string>
#include <utility>
#include <vector>

namespace sentrydesk {

class TypeInfoHolder {
public:
    TypeInfoHolder(const GUID* libid, const IID* iid, WORD major, WORD minor);
    TypeInfoHolder(const TypeInfoHolder&) = delete;
    TypeInfoHolder& operator=(const TypeInfoHolder&) = delete;

    HRESULT GetTypeInfo(LCID lcid, ITypeInfo** out);
    HRESULT GetIDsOfNames(LCID lcid, LPOLESTR* names, UINT count, DISPID* ids);
    HRESULT Invoke(IDispatch* self, DISPID id, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                   EXCEPINFO* excep, UINT* argErr);

private:
    HRESULT Load(LCID lcid);
    void CollectNames();
    static void WINAPI Release(DWORD_PTR holder);

    const GUID* libid_;
    const IID* iid_;
    WORD major_;
    WORD minor_;
    ITypeInfo* info_ = nullptr;
    std::vector<std::pair<std::wstring, DISPID>> names_;
};

TypeInfoHolder& ServiceMgrTypeInfo();
TypeInfoHolder& ConsoleAddinTypeInfo();

}  // namespace sentrydesk
