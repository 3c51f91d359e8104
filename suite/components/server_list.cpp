// The server-list component: the further servers the suite forwards to, from the registry.
#include <string>
#include <vector>

#include "OrvaneComponents.h"
#include "com_object.h"
#include "components.h"
#include "registry_values.h"
#include "settings_cache.h"
#include "stubs.h"
#include "text.h"

namespace orvane_components {
namespace {

class CServerList : public ComObject<IOrvaneServerList, kServerListIid> {
public:
    HRESULT STDMETHODCALLTYPE Refresh() override {
        RegistryUpdateLock lock;
        if (!lock.held()) return E_FAIL;
        DWORD count = 0;
        ReadDword(kServerListKey, kRefreshCountValue, &count);
        return WriteDword(kServerListKey, kRefreshCountValue, count + 1) ? S_OK : E_FAIL;
    }

    HRESULT STDMETHODCALLTYPE GetCount(long* count) override {
        if (!count) return E_POINTER;
        *count = static_cast<long>(CurrentSettings().servers.size());
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetServer(long index, BSTR* id) override {
        if (!id) return E_POINTER;
        *id = nullptr;
        std::vector<std::string> servers = CurrentSettings().servers;
        if (index < 0 || static_cast<size_t>(index) >= servers.size()) return E_INVALIDARG;
        *id = AnsiToBstr(servers[static_cast<size_t>(index)]);
        return *id ? S_OK : E_OUTOFMEMORY;
    }

    OV_NOTIMPL(3)
    OV_NOTIMPL(4)
    OV_NOTIMPL(5)
    OV_NOTIMPL(6)
    OV_NOTIMPL(7)
    OV_NOTIMPL(8)
    OV_NOTIMPL(9)
    OV_NOTIMPL(10)
    OV_NOTIMPL(11)
    OV_NOTIMPL(12)
    OV_NOTIMPL(13)
    OV_NOTIMPL(14)
    OV_NOTIMPL(15)
    OV_NOTIMPL(16)
    OV_NOTIMPL(17)
    OV_NOTIMPL(18)
    OV_NOTIMPL(19)
    OV_NOTIMPL(20)
    OV_NOTIMPL(21)
    OV_NOTIMPL(22)
    OV_NOTIMPL(23)
    OV_NOTIMPL(24)
    OV_NOTIMPL(25)
    OV_NOTIMPL(26)
    OV_NOTIMPL(27)
    OV_NOTIMPL(28)
    OV_NOTIMPL(30)
    OV_NOTIMPL(31)
    OV_NOTIMPL(34)
    OV_NOTIMPL(35)
    OV_NOTIMPL(36)
    OV_NOTIMPL(37)
    OV_NOTIMPL(38)
    OV_NOTIMPL(39)
};

}  // namespace

HRESULT CreateServerList(REFIID riid, void** out) {
    return ComObject<IOrvaneServerList, kServerListIid>::Create<CServerList>(riid, out);
}

}  // namespace orvane_components
