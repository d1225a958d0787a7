// Stands in for the system's fsutil.exe in the benchmark's Wine prefix: records its command
// line, stores the TRIM setting as the real tool does (the product reads it back) and exits at
// once, so the OK timing includes a real process launch but no disk tool.
#include <windows.h>

#include <cwchar>
#include <cwctype>

int wmain(int argc, wchar_t** argv) {
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
    // behavior set DisableDeleteNotify N
    if (argc == 5 && _wcsicmp(argv[1], L"behavior") == 0 && _wcsicmp(argv[2], L"set") == 0 &&
        _wcsicmp(argv[3], L"DisableDeleteNotify") == 0 && std::iswdigit(argv[4][0])) {
        const DWORD value = std::wcstoul(argv[4], nullptr, 10);
        HKEY key = nullptr;
        if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\FileSystem",
                            0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                            nullptr) == ERROR_SUCCESS) {
            RegSetValueExW(key, L"DisableDeleteNotification", 0, REG_DWORD,
                           reinterpret_cast<const BYTE*>(&value), sizeof(value));
            RegCloseKey(key);
        }
    }
    return 0;
}
