// The local-system component: the local server's identifier and the add-ins' announcements.
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

class CLocalSystem : public ComObject<IOrvaneLocalSystem, kLocalSystemIid> {
public:
    // Records "<CLSID> <value> keys-present|keys-absent", so a test can tell whether an add-in
    // announced itself before or after writing its class keys.
    HRESULT STDMETHODCALLTYPE RegisterAddinClass(const CLSID* clsid, long value) override {
        if (!clsid) return E_POINTER;
        std::string text = ClsidText(*clsid);
        if (text.empty()) return E_FAIL;
        bool present = KeyExists(HKEY_CLASSES_ROOT, "CLSID\\" + text);
        std::string entry = text + " " + std::to_string(value) + " " + (present ? kKeysPresent : kKeysAbsent);
        RegistryUpdateLock lock;
        if (!lock.held()) return E_FAIL;
        std::vector<std::string> announced = ReadMultiSz(kLocalSystemKey, kAnnouncedClassesValue);
        announced.push_back(entry);
        return WriteMultiSz(kLocalSystemKey, kAnnouncedClassesValue, announced) ? S_OK : E_FAIL;
    }

    HRESULT STDMETHODCALLTYPE GetLocalServerId(BSTR* id) override {
        if (!id) return E_POINTER;
        *id = AnsiToBstr(CurrentSettings().localServerId);
        return *id ? S_OK : E_OUTOFMEMORY;
    }

    OV_NOTIMPL(3)
    OV_NOTIMPL(4)
    OV_NOTIMPL(5)
    OV_NOTIMPL(6)
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
    OV_NOTIMPL(21)
    OV_NOTIMPL(22)
    OV_NOTIMPL(23)
    OV_NOTIMPL(24)
    OV_NOTIMPL(25)
    OV_NOTIMPL(26)
    OV_NOTIMPL(27)
    OV_NOTIMPL(28)
    OV_NOTIMPL(29)
    OV_NOTIMPL(30)
    OV_NOTIMPL(31)
    OV_NOTIMPL(32)
    OV_NOTIMPL(33)
    OV_NOTIMPL(34)
    OV_NOTIMPL(35)
    OV_NOTIMPL(36)
    OV_NOTIMPL(37)
    OV_NOTIMPL(38)
    OV_NOTIMPL(39)
};

}  // namespace

HRESULT CreateLocalSystem(REFIID riid, void** out) {
    return ComObject<IOrvaneLocalSystem, kLocalSystemIid>::Create<CLocalSystem>(riid, out);
}

}  // namespace orvane_components
