// DLLs from the system directory only. The program runs elevated, often from a download folder
// that others can write to, so no DLL may come from its own folder or the current directory.
// The import directory names only DLLs that Windows always takes from the system directory;
// everything else is loaded here, after the search has been locked.
#pragma once

#include "platform/win32.h"

#include <string>

// First thing in the process: from now on the loader searches the system directory only. Where
// Windows lacks that ability (XP, Vista and 7 without the loader update), the current directory
// at least leaves the search, and SystemProcedure loads by full path.
void LockDllSearch();

enum class DllOrigin {
    SystemDirectory,
    // The version the manifest asks for, from the side-by-side store (the common controls).
    SideBySide,
};

// The address of `procedure` in `dll`; null when either cannot be had.
FARPROC SystemProcedure(LPCWSTR dll, LPCSTR procedure,
                        DllOrigin origin = DllOrigin::SystemDirectory);

template <typename Function>
Function SystemFunction(LPCWSTR dll, LPCSTR procedure,
                        DllOrigin origin = DllOrigin::SystemDirectory) {
    // Through the generic function pointer type, which both compilers convert without warning.
    return reinterpret_cast<Function>(
        reinterpret_cast<void (*)()>(SystemProcedure(dll, procedure, origin)));
}

// `file` in the system directory, by full path; empty when the directory cannot be read.
std::wstring SystemPath(LPCWSTR file);
