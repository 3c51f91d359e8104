#include "text.h"

#include <objbase.h>

namespace orvane_components {

BSTR AnsiToBstr(const std::string& text) {
    if (text.empty()) return SysAllocString(L"");
    int wide = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    BSTR out = SysAllocStringLen(nullptr, static_cast<UINT>(wide));
    if (out) MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out, wide);
    return out;
}

std::string ClsidText(const CLSID& clsid) {
    wchar_t wide[40];
    char text[40];
    if (!StringFromGUID2(clsid, wide, 40)) return {};
    int n = WideCharToMultiByte(CP_ACP, 0, wide, -1, text, sizeof(text), nullptr, nullptr);
    return n > 0 ? std::string(text) : std::string();
}

}  // namespace orvane_components
