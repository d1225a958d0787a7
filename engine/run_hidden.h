#pragma once

#include "platform/win32.h"

// Starts a program of the system directory hidden and waits for it to end; TRUE only when it
// started and ended with exit code 0.
BOOL RunHidden(LPCWSTR program, LPCWSTR parameters);
