// Stands in for the system's fsutil.exe in the benchmark's Wine prefix: records its command
// line and exits at once, so the OK timing includes a real process launch but no disk tool.
#include <windows.h>

#include <cwchar>

int wmain() {
    const HANDLE log = CreateFileW(L"C:\\fsutil-calls.txt", FILE_APPEND_DATA, FILE_SHARE_READ,
                                   nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (log != INVALID_HANDLE_VALUE) {
        const wchar_t* line = GetCommandLineW();
        DWORD written = 0;
        WriteFile(log, line, static_cast<DWORD>(std::wcslen(line) * sizeof(wchar_t)), &written,
                  nullptr);
        WriteFile(log, L"\r\n", 2 * sizeof(wchar_t), &written, nullptr);
        CloseHandle(log);
    }
    return 0;
}
