// Stands in for a system tool (fsutil.exe, wineboot.exe) during the end-to-end runs: appends how
// it was started to C:\qm-e2e\<own base name>.log and exits 0, so the suite sees whether, how
// often, how and with which parameters the program launched the tool.
#include "utf8.h"

#include <windows.h>

#include <string>

namespace {

std::wstring OwnBaseName() {
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring name(path, length);
    const auto slash = name.find_last_of(L"\\/");
    if (slash != std::wstring::npos) {
        name.erase(0, slash + 1);
    }
    const auto dot = name.find_last_of(L'.');
    if (dot != std::wstring::npos) {
        name.erase(dot);
    }
    return name;
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR parameters, int) {
    // -1 when the launcher did not ask for a show state; a hidden launch records 0 (SW_HIDE).
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    GetStartupInfoW(&startup);
    const int show = (startup.dwFlags & STARTF_USESHOWWINDOW) != 0 ? startup.wShowWindow : -1;

    const std::string line = e2e::Utf8(L"show=" + std::to_wstring(show) + L" " +
                                       (parameters ? parameters : L"") + L"\n");
    const std::wstring log = L"C:\\qm-e2e\\" + OwnBaseName() + L".log";
    const HANDLE file = CreateFileW(log.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
        CloseHandle(file);
    }
    return 0;
}
