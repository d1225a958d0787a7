// Planted under the name of a DLL the program might load from its folder or its current
// directory: if it is ever loaded, it leaves "<its own path>.fired" beside itself and refuses to
// load. Imports only KERNEL32, which every process has from the system directory.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        WCHAR path[MAX_PATH + 8] = {};
        const DWORD length = GetModuleFileNameW(instance, path, MAX_PATH);
        if (length > 0 && length < MAX_PATH) {
            lstrcatW(path, L".fired");
            const HANDLE trace = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                             FILE_ATTRIBUTE_NORMAL, nullptr);
            if (trace != INVALID_HANDLE_VALUE) {
                CloseHandle(trace);
            }
        }
    }
    return FALSE;
}
