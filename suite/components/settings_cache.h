// What the two components report, read from the registry and kept until something there changes.
#pragma once

#include <string>
#include <vector>

namespace orvane_components {

struct ComponentSettings {
    std::string localServerId;         // the default when the value is missing
    std::vector<std::string> servers;  // empty when the value is missing
};

ComponentSettings CurrentSettings();

}  // namespace orvane_components
