// The one place product code gets the Windows API from. On Windows it is the SDK; on the Linux
// host the same subset is declared by the simulated machine so the engine runs in unit tests.
#pragma once

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <shellapi.h>
#else
#include "sim/win32_api.h"
#endif
