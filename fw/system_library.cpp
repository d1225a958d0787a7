#include "fw/system_library.h"

namespace {

using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);

// Exported by Windows 8 and later, and by Vista and 7 with the loader update.
SetDefaultDllDirectoriesFunction FindSetDefaultDllDirectories() {
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    if (kernel == nullptr) {
        return nullptr;
    }
    return reinterpret_cast<SetDefaultDllDirectoriesFunction>(
        reinterpret_cast<void (*)()>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
}

HMODULE LoadSystemLibrary(LPCWSTR dll, DllOrigin origin) {
    // The search flags come with SetDefaultDllDirectories. They do not stop the manifest's
    // redirection to the side-by-side store, which comes before any folder.
    if (FindSetDefaultDllDirectories() != nullptr) {
        return LoadLibraryExW(dll, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    }
    if (origin == DllOrigin::SideBySide) {
        // A full path would bypass the manifest and give the system directory's older version.
        return LoadLibraryW(dll);
    }
    const std::wstring path = SystemPath(dll);
    return path.empty() ? nullptr : LoadLibraryW(path.c_str());
}

} // namespace

void LockDllSearch() {
    const SetDefaultDllDirectoriesFunction setDefaultDllDirectories =
        FindSetDefaultDllDirectories();
    if (setDefaultDllDirectories == nullptr ||
        !setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
        SetDllDirectoryW(L"");
    }
}

FARPROC SystemProcedure(LPCWSTR dll, LPCSTR procedure, DllOrigin origin) {
    const HMODULE module = LoadSystemLibrary(dll, origin);
    return module != nullptr ? GetProcAddress(module, procedure) : nullptr;
}

std::wstring SystemPath(LPCWSTR file) {
    WCHAR directory[MAX_PATH] = {};
    const UINT length = GetSystemDirectoryW(directory, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return std::wstring();
    }
    std::wstring path(directory, length);
    if (path.back() != L'\\') {
        path += L'\\';
    }
    return path + file;
}
