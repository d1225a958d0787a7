#include "engine/settings_engine.h"

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <limits>

namespace {

// Sections in the order they are written to a new file.
struct ProfileSection {
    SettingId id;
    LPCWSTR name;
};
constexpr ProfileSection kSections[] = {
    {AutoDefrag, L"AutoDefrag"}, {Index, L"Index"},       {SuperFetch, L"SuperFetch"},
    {SysMain, L"SysMain"},       {PreFetch, L"PreFetch"}, {Trim, L"Trim"},
};

constexpr DWORD kReadCapacity = 2 * MAX_PATH;

// Decimal text as wcstol reads it (leading blanks, sign, digits up to the first other
// character), clamped to the signed 32-bit range on every platform.
std::int32_t ParseInitialValue(const WCHAR* text) {
    const long long value = std::wcstoll(text, nullptr, 10);
    if (value > std::numeric_limits<std::int32_t>::max()) {
        return std::numeric_limits<std::int32_t>::max();
    }
    if (value < std::numeric_limits<std::int32_t>::min()) {
        return std::numeric_limits<std::int32_t>::min();
    }
    return static_cast<std::int32_t>(value);
}

} // namespace

std::wstring SettingsEngine::GetProfilePath() {
    WCHAR path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    // A truncated module path would name some other file; treat it as no profile at all.
    if (length == 0 || length >= MAX_PATH || length < 3) {
        return std::wstring();
    }
    std::wstring profile(path, length);
    profile.replace(length - 3, 3, L"ini");
    return profile;
}

BOOL SettingsEngine::ReadInitialValue(LPCWSTR section, WCHAR (&out)[MAX_PATH]) {
    const std::wstring path = GetProfilePath();
    if (path.empty()) {
        return FALSE;
    }
    WCHAR text[kReadCapacity] = {};
    const DWORD length =
        GetPrivateProfileStringW(section, L"DefValue", L"", text, kReadCapacity, path.c_str());
    if (length == 0) {
        return FALSE;
    }
    // A value too long for the caller's buffer is cut to what fits, always terminated.
    std::wcsncpy(out, text, MAX_PATH - 1);
    out[MAX_PATH - 1] = L'\0';
    return TRUE;
}

BOOL SettingsEngine::WriteInitialValue(LPCWSTR section, LPCWSTR text) {
    const std::wstring path = GetProfilePath();
    if (path.empty()) {
        return FALSE;
    }
    return WritePrivateProfileStringW(section, L"DefValue", text, path.c_str());
}

void SettingsEngine::WriteFirstProfile(const std::wstring& path) const {
    // Made here, never through a link planted under its name, and held open without delete
    // sharing while it is written, so that nobody can swap the name for a link meanwhile.
    const HANDLE profile =
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (profile == INVALID_HANDLE_VALUE) {
        return;
    }
    bool written = true;
    for (const ProfileSection& section : kSections) {
        WCHAR text[MAX_PATH] = {};
        std::swprintf(text, MAX_PATH, L"%ld", static_cast<long>(m_nInitial[section.id]));
        written = WriteInitialValue(section.name, text) && written;
    }
    CloseHandle(profile);
    // An incomplete snapshot would read as zeros from now on; without one the next run tries
    // again.
    if (!written) {
        DeleteFileW(path.c_str());
    }
}

BOOL SettingsEngine::LoadInitialSettings() {
    const std::wstring path = GetProfilePath();
    m_nInitial = m_nCurrent;
    if (path.empty()) {
        return TRUE;
    }
    if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        WriteFirstProfile(path);
        return TRUE;
    }
    for (const ProfileSection& section : kSections) {
        WCHAR text[MAX_PATH] = {};
        ReadInitialValue(section.name, text);
        m_nInitial[section.id] = ParseInitialValue(text);
    }
    return TRUE;
}
