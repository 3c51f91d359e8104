// Deleting a registry key together with everything under it.
#pragma once

#include <windows.h>

namespace sentrydesk {

// Deletes parent\name with all its subkeys; the first error ends the deletion and is returned.
LONG DeleteKeyTree(HKEY parent, const char* name);

}  // namespace sentrydesk
