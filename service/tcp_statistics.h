// The TCP input's counters beside the others under the Statistics key.
#pragma once

#include <windows.h>

// Writes them into the open Statistics key while TCP is on, else removes them; false when one could
// not be written.
bool WriteTcpCounters(HKEY statistics);
// Prints each as "Name : value", as -s prints the others.
void PrintTcpCounters(HKEY statistics);
