// The process entry point. Compiled into the executable itself rather than into the framework
// library: the C runtime's startup code references it only after the user's libraries have
// been searched.
#include "fw/win_app.h"

int WINAPI wWinMain(HINSTANCE hInstance, HINSTANCE, LPWSTR, int) {
    return AfxWinMain(hInstance);
}
