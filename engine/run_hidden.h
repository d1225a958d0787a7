#pragma once

#include "platform/win32.h"

// Starts a program of the system directory hidden and waits for it to end.
BOOL RunHidden(LPCWSTR program, LPCWSTR parameters);
