// The process's environment, the Windows and temporary folders, and the long names behind
// short (8.3) ones.
#include "sim_internal.h"

#include <algorithm>

namespace sim {

namespace {

const std::wstring kWindowsDirectory = L"C:\\Windows";

// Copies `text` and its terminator when the buffer holds both; otherwise returns the size needed,
// terminator included, as the functions here do.
DWORD CopyOut(const std::wstring& text, LPWSTR buffer, DWORD size) {
    const auto length = static_cast<DWORD>(text.size());
    if (buffer == nullptr || size <= length) {
        return length + 1;
    }
    std::copy(text.begin(), text.end(), buffer);
    buffer[length] = L'\0';
    return length;
}

std::optional<std::wstring> Variable(const std::wstring& name) {
    const auto& environment = State().environment;
    const auto it = environment.find(Upper(name));
    return it == environment.end() ? std::nullopt : std::optional<std::wstring>(it->second);
}

bool Exists(Machine::Impl& s, const std::wstring& normalized) {
    return FindDirectory(s, normalized) != nullptr || FindFile(s, normalized) != nullptr;
}

} // namespace

void Machine::SetEnvironment(const std::wstring& name, const std::optional<std::wstring>& value) {
    if (value) {
        impl_->environment[Upper(name)] = *value;
    } else {
        impl_->environment.erase(Upper(name));
    }
}

void Machine::SetShortName(const std::wstring& path, const std::wstring& shortName) {
    const std::wstring normalized = NormalizePath(path, impl_->currentDirectory);
    std::wstring parent = ParentPath(normalized);
    if (!parent.empty() && parent.back() == L'\\') {
        parent.pop_back(); // a root: "C:" then the name, as GetLongPathNameW builds it
    }
    impl_->shortNames[Upper(parent + L"\\" + shortName)] = LastComponent(normalized);
}

} // namespace sim

using namespace sim;

// GetEnvironmentVariableW: the variable's length, or the size needed with the terminator;
// ERROR_ENVVAR_NOT_FOUND when there is no such variable. Names compare without case.
DWORD GetEnvironmentVariableW(LPCWSTR lpName, LPWSTR lpBuffer, DWORD nSize) {
    if (auto fault = Enter("GetEnvironmentVariableW", Str(lpName), nSize)) {
        SetError(*fault);
        return 0;
    }
    const std::optional<std::wstring> value = Variable(Str(lpName));
    if (!value) {
        SetError(ERROR_ENVVAR_NOT_FOUND);
        return 0;
    }
    return CopyOut(*value, lpBuffer, nSize);
}

// GetWindowsDirectoryW: no trailing backslash; the size needed when the buffer is too small.
UINT GetWindowsDirectoryW(LPWSTR lpBuffer, UINT uSize) {
    if (auto fault = Enter("GetWindowsDirectoryW", {}, uSize)) {
        SetError(*fault);
        return 0;
    }
    return CopyOut(kWindowsDirectory, lpBuffer, uSize);
}

// GetTempPathW: TMP, TEMP, USERPROFILE, then the Windows folder, the first that is set, as a full
// path with a trailing backslash. The path need not exist. Too small a buffer is emptied and the
// size needed returned (test_GetTempPathW).
DWORD GetTempPathW(DWORD nBufferLength, LPWSTR lpBuffer) {
    if (auto fault = Enter("GetTempPathW", {}, nBufferLength)) {
        SetError(*fault);
        return 0;
    }
    std::wstring path = kWindowsDirectory;
    for (const wchar_t* name : {L"TMP", L"TEMP", L"USERPROFILE"}) {
        const std::optional<std::wstring> value = Variable(name);
        if (value && !value->empty()) {
            path = *value;
            break;
        }
    }
    path = NormalizePath(path, State().currentDirectory);
    if (path.back() != L'\\') {
        path += L'\\';
    }
    const DWORD result = CopyOut(path, lpBuffer, nBufferLength);
    if (result > path.size() && lpBuffer != nullptr) {
        std::fill_n(lpBuffer, nBufferLength, L'\0');
    }
    return result;
}

// GetLongPathNameW: each short name replaced by its long one; every component must exist
// (ERROR_FILE_NOT_FOUND for the last, ERROR_PATH_NOT_FOUND for a folder on the way). A trailing
// backslash stays. The buffer is untouched when too small.
DWORD GetLongPathNameW(LPCWSTR lpszShortPath, LPWSTR lpszLongPath, DWORD cchBuffer) {
    if (auto fault = Enter("GetLongPathNameW", Str(lpszShortPath), cchBuffer)) {
        SetError(*fault);
        return 0;
    }
    if (lpszShortPath == nullptr) {
        SetError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    Machine::Impl& s = State();
    const std::wstring given = lpszShortPath;
    const std::wstring normalized = NormalizePath(given, s.currentDirectory);
    if (normalized.empty()) {
        SetError(ERROR_PATH_NOT_FOUND);
        return 0;
    }
    std::wstring longPath = normalized.substr(0, 2); // the drive
    std::size_t pos = 3;
    while (pos < normalized.size()) {
        std::size_t next = normalized.find(L'\\', pos);
        next = next == std::wstring::npos ? normalized.size() : next;
        std::wstring component = normalized.substr(pos, next - pos);
        if (!Exists(s, longPath + L"\\" + component)) {
            const auto alias = s.shortNames.find(Upper(longPath + L"\\" + component));
            if (alias == s.shortNames.end() || !Exists(s, longPath + L"\\" + alias->second)) {
                SetError(next == normalized.size() ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
                return 0;
            }
            component = alias->second;
        }
        longPath += L"\\" + component;
        pos = next + 1;
    }
    if (longPath.size() == 2 || given.back() == L'\\' || given.back() == L'/') {
        longPath += L'\\';
    }
    return CopyOut(longPath, lpszLongPath, cchBuffer);
}
