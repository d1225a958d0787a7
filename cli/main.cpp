// The console program's entry point.
#include "cli/console_program.h"
#include "cli/std_streams.h"
#include "fw/system_library.h"

int wmain() {
    // Before anything loads a DLL on the program's behalf.
    LockDllSearch();
    // No window ever: neither Windows' critical-error boxes nor its crash box.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    // Our own reading of the command line, the same in every build; the runtime's is not used.
    StdStreams streams;
    return RunConsoleProgram(GetCommandLineW(), streams);
}
