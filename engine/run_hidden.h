#pragma once

#include "platform/win32.h"

// How a run of the system's tool went: NO_ERROR when it started and ended in time; else what
// Windows reported and the step, in plain ASCII ("starting fsutil.exe").
struct ToolRun {
    DWORD error = NO_ERROR;
    const char* step = nullptr;
};

// Starts the system directory's fsutil.exe hidden, in a console of its own so that its output
// never mixes into a caller's, and waits up to `timeout` ms for it to end; a tool still running
// then is ended and the run counts as failed. Its exit code is not documented, so it is not read.
ToolRun RunFsutil(LPCWSTR parameters, DWORD timeout);
