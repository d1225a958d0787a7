#pragma once

#include "platform/win32.h"

// How a run of the system's tool went: NO_ERROR when it started and ended in time; else what
// Windows reported and the step, in plain ASCII ("starting fsutil.exe").
struct ToolRun {
    DWORD error = NO_ERROR;
    const char* step = nullptr;
};

// How the tool is started.
enum class ToolStart {
    // Through the shell, hidden, as the dialog has always started it; the shell shows no box.
    Shell,
    // Directly, without a console and with its standard input, output and error on the NUL
    // device, so that nothing it prints reaches a console program's own output.
    Silent,
};

// Starts the system directory's fsutil.exe by full path and waits up to `timeout` ms for it to
// end; a tool still running then is ended and the run counts as failed. Its exit code is not
// documented, so it is not read.
ToolRun RunFsutil(LPCWSTR parameters, DWORD timeout, ToolStart start);
