// Single-value registry access under HKEY_LOCAL_MACHINE; each call opens and closes its key.
#pragma once

#include "platform/win32.h"

#include <cstdint>

// The value when it is a REG_DWORD of four bytes; -1 when absent, unreadable or of another type.
std::int32_t QueryDword(LPCWSTR subkey, LPCWSTR valueName);

// Creates or opens the key and stores a REG_DWORD; ERROR_SUCCESS, or what refused the key or the
// store.
LSTATUS SetDword(LPCWSTR subkey, LPCWSTR valueName, DWORD data);
