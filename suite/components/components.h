// Creation of the two component classes, for the class factory.
#pragma once

#include <windows.h>

namespace orvane_components {

HRESULT CreateLocalSystem(REFIID riid, void** out);
HRESULT CreateServerList(REFIID riid, void** out);

}  // namespace orvane_components
