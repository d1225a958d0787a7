#include "engine/run_hidden.h"

#include <string>

BOOL RunHidden(LPCWSTR program, LPCWSTR parameters) {
    // Elevated: launch the system's own tool by full path, never one found in the program's
    // folder or the current directory.
    WCHAR systemDirectory[MAX_PATH] = {};
    const UINT length = GetSystemDirectoryW(systemDirectory, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return FALSE;
    }
    std::wstring file(systemDirectory, length);
    if (file.back() != L'\\') {
        file += L'\\';
    }
    file += program;

    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    info.hwnd = nullptr;
    info.lpVerb = nullptr;
    info.lpFile = file.c_str();
    info.lpParameters = parameters;
    info.lpDirectory = nullptr;
    info.nShow = SW_HIDE;
    const BOOL started = ShellExecuteExW(&info);
    if (info.hProcess != nullptr) {
        WaitForSingleObject(info.hProcess, INFINITE);
        CloseHandle(info.hProcess);
    }
    return started;
}
