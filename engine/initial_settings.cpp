#include "engine/settings_engine.h"

#include "engine/temporary_folder.h"
#include "fw/brief_hold.h"

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <limits>
#include <string>

namespace {

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

// The first snapshot as the profile functions write a new file: ANSI text, CR LF line ends,
// one section per setting in the order above.
std::string FirstProfileText(const SettingValues& values) {
    std::string text;
    for (const SettingName& section : kStoredSettings) {
        text += '[';
        for (const WCHAR* c = section.name; *c != L'\0'; ++c) {
            text += static_cast<char>(*c); // the section names are ASCII
        }
        text += "]\r\nDefValue=" + std::to_string(values[section.id]) + "\r\n";
    }
    return text;
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

bool SettingsEngine::HasProfile() {
    const std::wstring path = GetProfilePath();
    return !path.empty() && GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
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

void SettingsEngine::WriteFirstProfile(const std::wstring& path) const {
    // Written whole under a name of its own, then renamed: a run that ends half-way leaves no
    // profile, never a partial one that would read as zeros for good.
    std::wstring temporaryPath = path;
    temporaryPath.replace(temporaryPath.size() - 3, 3, L"tmp");
    const LPCWSTR temporary = temporaryPath.c_str();
    // A leftover of an interrupted run, or a link planted under the name: only the name goes.
    DeleteFileWaitingOutHolds(temporary);
    // Made here, never through a link, and shared with nobody while it is written.
    HANDLE file = INVALID_HANDLE_VALUE;
    RetryWhileHeld(temporary, [&] {
        file = CreateFileW(temporary, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        return StepResult(file != INVALID_HANDLE_VALUE);
    });
    if (file == INVALID_HANDLE_VALUE) {
        return;
    }
    const std::string text = FirstProfileText(m_nInitial);
    const auto size = static_cast<DWORD>(text.size());
    DWORD written = 0;
    // On the disk before it gets the profile's name, so a power cut cannot leave the name on
    // data that never arrived.
    const bool whole = WriteFile(file, text.data(), size, &written, nullptr) && written == size &&
                       FlushFileBuffers(file);
    CloseHandle(file);
    // Never in place of a profile that appeared meanwhile. Others may open the file the moment
    // it is closed, which holds up the rename for a moment.
    const bool renamed = whole && RetryWhileHeld(temporary, [&] {
                                      return StepResult(MoveFileExW(temporary, path.c_str(),
                                                                    MOVEFILE_WRITE_THROUGH));
                                  }) == NO_ERROR;
    if (!renamed) {
        DeleteFileWaitingOutHolds(temporary);
    }
}

BOOL SettingsEngine::LoadInitialSettings() {
    const std::wstring path = GetProfilePath();
    m_nInitial = m_nCurrent;
    if (path.empty()) {
        return TRUE;
    }
    if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        // A snapshot in a temporary folder goes when that folder is cleaned, and the next start
        // would take the settings of that day for the first ones. Without it OK asks first.
        if (!IsInTemporaryFolder(path.substr(0, path.rfind(L'\\')))) {
            WriteFirstProfile(path);
        }
        return TRUE;
    }
    for (const SettingName& section : kStoredSettings) {
        WCHAR text[MAX_PATH] = {};
        ReadInitialValue(section.name, text);
        m_nInitial[section.id] = ParseInitialValue(text);
    }
    return TRUE;
}
