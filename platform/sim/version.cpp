// Version query, module path and system directory: facts about the running machine.
#include "sim_internal.h"

#include <algorithm>
#include <cstring>

namespace sim {

namespace {

constexpr wchar_t kSystemDirectory[] = L"C:\\Windows\\system32";

// The build numbers the released versions report.
DWORD BuildFor(DWORD major, DWORD minor) {
    struct Known {
        DWORD major, minor, build;
    };
    static constexpr Known known[] = {{5, 0, 2195}, {5, 1, 2600}, {5, 2, 3790}, {6, 0, 6002},
                                      {6, 1, 7601}, {6, 2, 9200}, {6, 3, 9600}, {10, 0, 19045}};
    for (const Known& k : known) {
        if (k.major == major && k.minor == minor) {
            return k.build;
        }
    }
    return 1000;
}

} // namespace

void Machine::SetVersion(DWORD major, DWORD minor, DWORD platformId) {
    impl_->major = major;
    impl_->minor = minor;
    impl_->build = BuildFor(major, minor);
    impl_->platformId = platformId;
}

void Machine::SetModulePath(const std::wstring& path) {
    impl_->modulePath = path;
}

} // namespace sim

using namespace sim;

BOOL GetVersionExW(LPOSVERSIONINFOW lpVersionInformation) {
    const DWORD size = lpVersionInformation ? lpVersionInformation->dwOSVersionInfoSize : 0;
    if (auto fault = Enter("GetVersionExW", {}, size)) {
        SetError(*fault);
        return FALSE;
    }
    if (!lpVersionInformation || size != sizeof(OSVERSIONINFOW)) {
        SetError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    const auto& s = State();
    lpVersionInformation->dwMajorVersion = s.major;
    lpVersionInformation->dwMinorVersion = s.minor;
    lpVersionInformation->dwBuildNumber = s.build;
    lpVersionInformation->dwPlatformId = s.platformId;
    std::memset(lpVersionInformation->szCSDVersion, 0, sizeof lpVersionInformation->szCSDVersion);
    return TRUE;
}

// Every module handle names the executable: the product has no other modules.
DWORD GetModuleFileNameW(HMODULE /*hModule*/, LPWSTR lpFilename, DWORD nSize) {
    if (auto fault = Enter("GetModuleFileNameW", {}, nSize)) {
        SetError(*fault);
        return 0;
    }
    const std::wstring& path = State().modulePath;
    const auto length = static_cast<DWORD>(path.size());
    if (nSize == 0 || !lpFilename) {
        SetError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if (length >= nSize) {
        // Truncated, terminated, and the full buffer size returned.
        std::copy_n(path.begin(), nSize - 1, lpFilename);
        lpFilename[nSize - 1] = L'\0';
        SetError(ERROR_INSUFFICIENT_BUFFER);
        return nSize;
    }
    std::copy(path.begin(), path.end(), lpFilename);
    lpFilename[length] = L'\0';
    return length;
}

UINT GetSystemDirectoryW(LPWSTR lpBuffer, UINT uSize) {
    if (auto fault = Enter("GetSystemDirectoryW", {}, uSize)) {
        SetError(*fault);
        return 0;
    }
    const std::wstring path = kSystemDirectory;
    const auto length = static_cast<UINT>(path.size());
    if (!lpBuffer || uSize <= length) {
        return length + 1; // the size needed, terminator included; the buffer is untouched
    }
    std::copy(path.begin(), path.end(), lpBuffer);
    lpBuffer[length] = L'\0';
    return length;
}
