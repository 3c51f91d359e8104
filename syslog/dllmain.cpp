#include <windows.h>

// Nothing to do at load: COM may not be called under the loader lock, and every thread that
// needs it initialises it itself.
BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
