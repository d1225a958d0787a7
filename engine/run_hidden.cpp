#include "engine/run_hidden.h"

#include "fw/system_library.h"

#include <string>

namespace {

// How long an ended program may take to be gone; TerminateProcess returns before it is.
constexpr DWORD kEndingTimeout = 5000;

ToolRun Failed(DWORD error, const char* step) {
    return ToolRun{error == NO_ERROR ? static_cast<DWORD>(ERROR_GEN_FAILURE) : error, step};
}

} // namespace

ToolRun RunFsutil(LPCWSTR parameters, DWORD timeout) {
    // Elevated: launch the system's own tool by full path, never one found in the program's
    // folder or the current directory.
    const std::wstring file = SystemPath(L"fsutil.exe");
    if (file.empty()) {
        return Failed(GetLastError(), "finding the system folder");
    }
    using ShellExecuteExFunction = BOOL(WINAPI*)(SHELLEXECUTEINFOW*);
    const auto shellExecuteEx =
        SystemFunction<ShellExecuteExFunction>(L"shell32.dll", "ShellExecuteExW");
    if (shellExecuteEx == nullptr) {
        return Failed(GetLastError(), "loading shell32.dll");
    }

    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof(info);
    // The failure is reported by the program itself, naming the feature; the shell's own box
    // would belong to no window. A console of its own, hidden, keeps the tool's output out of a
    // console program's: the shell gives it one unless SEE_MASK_NO_CONSOLE asks it to inherit
    // the caller's (the opposite of CREATE_NEW_CONSOLE, as SHELLEXECUTEINFO documents it).
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    info.hwnd = nullptr;
    info.lpVerb = nullptr;
    info.lpFile = file.c_str();
    info.lpParameters = parameters;
    info.lpDirectory = nullptr;
    info.nShow = SW_HIDE;
    if (!shellExecuteEx(&info)) {
        return Failed(GetLastError(), "starting fsutil.exe");
    }
    if (info.hProcess == nullptr) {
        return Failed(ERROR_INVALID_HANDLE, "starting fsutil.exe");
    }
    ToolRun run;
    const DWORD waited = WaitForSingleObject(info.hProcess, timeout);
    if (waited == WAIT_TIMEOUT) {
        // No child is left running: a tool that does not end in time is ended.
        TerminateProcess(info.hProcess, ERROR_TIMEOUT);
        WaitForSingleObject(info.hProcess, kEndingTimeout);
        run = Failed(ERROR_TIMEOUT, "waiting for fsutil.exe");
    } else if (waited != WAIT_OBJECT_0) {
        run = Failed(GetLastError(), "waiting for fsutil.exe");
    }
    CloseHandle(info.hProcess);
    return run;
}
