#include "engine/run_hidden.h"

#include "fw/system_library.h"

#include <string>

BOOL RunHidden(LPCWSTR program, LPCWSTR parameters) {
    // Elevated: launch the system's own tool by full path, never one found in the program's
    // folder or the current directory.
    const std::wstring file = SystemPath(program);
    using ShellExecuteExFunction = BOOL(WINAPI*)(SHELLEXECUTEINFOW*);
    const auto shellExecuteEx =
        SystemFunction<ShellExecuteExFunction>(L"shell32.dll", "ShellExecuteExW");
    if (file.empty() || shellExecuteEx == nullptr) {
        return FALSE;
    }

    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof(info);
    // The failure is reported by OK, naming the feature; the shell's own box would belong to
    // no window and leave the dialog usable under it.
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    info.hwnd = nullptr;
    info.lpVerb = nullptr;
    info.lpFile = file.c_str();
    info.lpParameters = parameters;
    info.lpDirectory = nullptr;
    info.nShow = SW_HIDE;
    if (!shellExecuteEx(&info) || info.hProcess == nullptr) {
        return FALSE;
    }
    const bool ended = WaitForSingleObject(info.hProcess, INFINITE) == WAIT_OBJECT_0;
    CloseHandle(info.hProcess);
    return ended ? TRUE : FALSE;
}
