// The process entry point. Compiled into the executable itself rather than into the framework
// library: the C runtime's startup code references it only after the user's libraries have
// been searched.
#include "fw/system_library.h"
#include "fw/win_app.h"

int WINAPI wWinMain(HINSTANCE hInstance, HINSTANCE, LPWSTR, int) {
    // Before anything loads a DLL on the program's behalf.
    LockDllSearch();
    return AfxWinMain(hInstance);
}
