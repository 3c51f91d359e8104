#include "settings_cache.h"

#include "OrvaneComponents.h"
#include "registry_values.h"
#include "registry_watch.h"

namespace orvane_components {
namespace {

ComponentSettings ReadSettings() {
    ComponentSettings s;
    if (!ReadString(kLocalSystemKey, kLocalServerIdValue, &s.localServerId))
        s.localServerId = kDefaultLocalServerId;
    s.servers = ReadMultiSz(kServerListKey, kServersValue);
    return s;
}

}  // namespace

ComponentSettings CurrentSettings() {
    static orvane::WatchedSettings<ComponentSettings, ReadSettings> settings;
    return settings.Get();
}

}  // namespace orvane_components
