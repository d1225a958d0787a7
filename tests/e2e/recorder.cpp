// Stands in for a system tool (fsutil.exe, wineboot.exe) during the end-to-end runs: appends how
// it was started to C:\qm-e2e\<own base name>.log and exits with the number in
// C:\qm-e2e\<own base name>.exitcode, or 0 without that file, so the suite sees whether, how
// often, how and with which parameters the program launched the tool, and can make it fail.
// As fsutil.exe it also stores the TRIM setting as the real tool does, unless
// C:\qm-e2e\fsutil.storesnothing exists: the program judges TRIM by that value alone; and it
// writes a line to whatever standard output it was given, as the real tool reports the setting,
// so that a caller's output that takes the tool's in shows it.
// Started with "--window" it is instead another program the user has open: a window that logs
// the end-of-session messages it gets and agrees to end.
#include "utf8.h"

#include <windows.h>

#include <cstdlib>
#include <cwchar>
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

std::wstring OwnFile(const wchar_t* extension) {
    return L"C:\\qm-e2e\\" + OwnBaseName() + extension;
}

void Log(const std::wstring& text) {
    const std::string line = e2e::Utf8(text + L"\n");
    const HANDLE file = CreateFileW(OwnFile(L".log").c_str(), FILE_APPEND_DATA, FILE_SHARE_READ,
                                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
        CloseHandle(file);
    }
}

// `behavior set DisableDeleteNotify N` stores N where Windows reads it.
void StoreTrimSetting(const wchar_t* parameters) {
    unsigned long value = 0;
    int used = 0;
    if (std::swscanf(parameters, L"behavior set DisableDeleteNotify %lu%n", &value, &used) != 1 ||
        parameters[used] != L'\0' ||
        GetFileAttributesW(OwnFile(L".storesnothing").c_str()) != INVALID_FILE_ATTRIBUTES) {
        return;
    }
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\FileSystem", 0,
                        nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) == ERROR_SUCCESS) {
        const DWORD data = value;
        RegSetValueExW(key, L"DisableDeleteNotification", 0, REG_DWORD,
                       reinterpret_cast<const BYTE*>(&data), sizeof(data));
        RegCloseKey(key);
    }
}

int ExitCode() {
    char text[16] = {};
    const HANDLE file = CreateFileW(OwnFile(L".exitcode").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return 0;
    }
    DWORD read = 0;
    ReadFile(file, text, sizeof(text) - 1, &read, nullptr);
    CloseHandle(file);
    return std::atoi(text);
}

LRESULT CALLBACK OtherProgramProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_QUERYENDSESSION:
        Log(L"WM_QUERYENDSESSION");
        return TRUE;
    case WM_ENDSESSION:
        Log(L"WM_ENDSESSION " + std::to_wstring(wParam));
        if (wParam) {
            DestroyWindow(window);
        }
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

int RunOtherProgram(HINSTANCE instance) {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = OtherProgramProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = L"QmE2eOtherProgram";
    RegisterClassW(&windowClass);
    const HWND window = CreateWindowExW(0, windowClass.lpszClassName, L"qm-e2e other program",
                                        WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200, 100, nullptr,
                                        nullptr, instance, nullptr);
    if (window == nullptr) {
        return 1;
    }
    Log(L"open");
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        DispatchMessageW(&message);
    }
    return 0;
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR parameters, int) {
    if (parameters != nullptr && std::wcscmp(parameters, L"--window") == 0) {
        return RunOtherProgram(instance);
    }
    // -1 when the launcher did not ask for a show state; a hidden launch records 0 (SW_HIDE).
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    GetStartupInfoW(&startup);
    const int show = (startup.dwFlags & STARTF_USESHOWWINDOW) != 0 ? startup.wShowWindow : -1;
    Log(L"show=" + std::to_wstring(show) + L" " + (parameters ? parameters : L""));
    if (parameters != nullptr && _wcsicmp(OwnBaseName().c_str(), L"fsutil") == 0) {
        StoreTrimSetting(parameters);
        const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
        if (output != nullptr && output != INVALID_HANDLE_VALUE) {
            const char line[] = "fsutil stand-in output\r\n";
            DWORD written = 0;
            WriteFile(output, line, sizeof(line) - 1, &written, nullptr);
        }
    }
    return ExitCode();
}
