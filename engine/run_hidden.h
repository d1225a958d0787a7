#pragma once

#include "platform/win32.h"

// Starts a program of the system directory hidden and waits for it to end; TRUE only when it
// started and ended. Its exit code is not documented for every tool, so it is not read.
BOOL RunHidden(LPCWSTR program, LPCWSTR parameters);
