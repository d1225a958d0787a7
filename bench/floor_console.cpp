// The floor for the console program's benchmark: a console program of the same runtime, build
// flags and resources (manifest, version block) that only starts and ends. Built a second time
// with QM_FLOOR_ADVAPI32, it also imports ADVAPI32.dll, as the program does for the registry:
// what loading that DLL alone costs.
#ifdef QM_FLOOR_ADVAPI32
#include <windows.h>
#endif

int wmain() {
#ifdef QM_FLOOR_ADVAPI32
    RegCloseKey(nullptr);
#endif
    return 0;
}
