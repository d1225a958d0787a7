#include "engine/restart.h"

#include "fw/message_box.h"
#include "platform/win32.h"
#include "res/resource.h"

namespace {

void ShowRestartFailed() {
    AfxMessageBox(IDS_RESTART_FAILED, MB_OK);
}

// Enables the shutdown privilege in the process token; false when that did not work.
bool EnableShutdownPrivilege(HANDLE token) {
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, &privileges.Privileges[0].Luid);
    AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
    // Success with ERROR_NOT_ALL_ASSIGNED means the privilege is not held.
    return GetLastError() == ERROR_SUCCESS;
}

} // namespace

void RestartComputer() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
        ShowRestartFailed();
    } else {
        const bool enabled = EnableShutdownPrivilege(token);
        CloseHandle(token);
        if (!enabled) {
            ShowRestartFailed();
        }
    }
    // Every program is asked first and may save its work; only hung ones are ended. The reason
    // logs a planned restart for a configuration change.
    if (!ExitWindowsEx(EWX_REBOOT | EWX_FORCEIFHUNG, SHTDN_REASON_MAJOR_OPERATINGSYSTEM |
                                                         SHTDN_REASON_MINOR_RECONFIG |
                                                         SHTDN_REASON_FLAG_PLANNED)) {
        ShowRestartFailed();
    }
}
