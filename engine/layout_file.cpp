#include "engine/layout_file.h"

#include "engine/reg_key.h"
#include "engine/settings_engine.h"
#include "fw/brief_hold.h"
#include "fw/file.h"

#include <string>

namespace {

constexpr const wchar_t* kCopyName = L"Layout_back.ini";
constexpr const char* kStep = "changing the layout file";
constexpr UINT kCopyChunk = 260;

// The layout file's path from the registry; empty when the key or value is missing or when the
// value does not fit the buffer together with its terminator. NO_ERROR then too; another error
// when the registry could not be read.
DWORD ReadLayoutFilePath(WCHAR (&path)[MAX_PATH]) {
    path[0] = L'\0';
    HKEY opened = nullptr;
    const LSTATUS open =
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, regkey::kOptimalLayout, 0, KEY_QUERY_VALUE, &opened);
    if (open != ERROR_SUCCESS) {
        return open == ERROR_FILE_NOT_FOUND ? NO_ERROR : static_cast<DWORD>(open);
    }
    const RegKey key(opened);
    WCHAR buffer[MAX_PATH] = {};
    DWORD size = sizeof(buffer);
    const LSTATUS query = RegQueryValueExW(key.Get(), L"LayoutFilePath", nullptr, nullptr,
                                           reinterpret_cast<LPBYTE>(buffer), &size);
    if (query != ERROR_SUCCESS || buffer[MAX_PATH - 1] != L'\0') {
        const bool absent =
            query == ERROR_SUCCESS || query == ERROR_FILE_NOT_FOUND || query == ERROR_MORE_DATA;
        return absent ? NO_ERROR : static_cast<DWORD>(query);
    }
    for (int i = 0; i < MAX_PATH; ++i) {
        path[i] = buffer[i];
    }
    return NO_ERROR;
}

// NO_ERROR, or what refused opening one of the two files.
DWORD RewriteWithReadOnlyBit(LPCWSTR path, bool prefetchOn, CFile& layoutFile, CFile& copyFile,
                             LPCWSTR temporaryCopy) {
    if (!layoutFile.Open(path, CFile::modeRead)) {
        return GetLastError();
    }
    CFileStatus status;
    layoutFile.GetStatus(status);
    const bool readOnly = (status.m_attribute & CFile::readOnly) != 0;
    if (prefetchOn != readOnly) {
        return NO_ERROR; // already in the wanted state
    }
    // Others may have left a link under that name.
    if (!copyFile.Open(temporaryCopy, CFile::modeCreate | CFile::modeWrite | CFile::modeNoLinks)) {
        return GetLastError();
    }

    BYTE chunk[kCopyChunk];
    UINT count = 0;
    do {
        count = layoutFile.Read(chunk, kCopyChunk);
        copyFile.Write(chunk, count);
    } while (count != 0);
    layoutFile.Close();
    copyFile.Close();

    // A read-only file cannot be deleted or overwritten: then the original stays in place and
    // only its attribute changes below.
    const BOOL deleted = DeleteFileWaitingOutHolds(path);
    // CopyFileW refuses a hidden destination for good.
    const bool copiedBack =
        RetryWhileHeld(
            path,
            [path, temporaryCopy] { return StepResult(CopyFileW(temporaryCopy, path, FALSE)); },
            FILE_ATTRIBUTE_HIDDEN) == NO_ERROR;
    if (copiedBack || !deleted) {
        // Keep the copy while it is the only place that still holds the content.
        DeleteFileWaitingOutHolds(temporaryCopy);
    }

    CFileStatus current;
    CFile::GetStatus(path, current);
    if (prefetchOn) {
        current.m_attribute = static_cast<BYTE>(current.m_attribute & ~CFile::readOnly);
    } else {
        current.m_attribute = static_cast<BYTE>(current.m_attribute | CFile::readOnly);
    }
    CFile::SetStatus(path, current);
    return NO_ERROR;
}

// NO_ERROR when the file at `path` is as Prefetch wants it (no file there needs no protection);
// else what reading its attributes reported, or ERROR_ACCESS_DENIED for a bit that is wrong.
DWORD CheckReadOnlyBit(LPCWSTR path, bool prefetchOn) {
    const DWORD attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? NO_ERROR : error;
    }
    const bool asked = ((attributes & FILE_ATTRIBUTE_READONLY) != 0) != prefetchOn;
    return asked ? NO_ERROR : static_cast<DWORD>(ERROR_ACCESS_DENIED);
}

std::wstring TemporaryCopyPath(const std::wstring& layoutPath, bool besideLayoutFile) {
    if (!besideLayoutFile) {
        return kCopyName; // relative: the current directory
    }
    const std::size_t slash = layoutPath.find_last_of(L"\\/");
    return layoutPath.substr(0, slash == std::wstring::npos ? 0 : slash + 1) + kCopyName;
}

} // namespace

PairOutcome ProtectLayoutFile(bool prefetchOn, CFile& layoutFile, CFile& copyFile,
                              const LayoutFileOptions& options) {
    PairOutcome outcome;
    WCHAR path[MAX_PATH];
    if (const DWORD unread = ReadLayoutFilePath(path); unread != NO_ERROR) {
        outcome.Fail(unread, "reading LayoutFilePath");
        return outcome;
    }
    if (path[0] == L'\0' ||
        (options.onlyWhenDifferent && CheckReadOnlyBit(path, prefetchOn) == NO_ERROR)) {
        return outcome;
    }
    const std::wstring copy = TemporaryCopyPath(path, options.copyBesideLayoutFile);
    const DWORD refused =
        RewriteWithReadOnlyBit(path, prefetchOn, layoutFile, copyFile, copy.c_str());
    const DWORD wrong = CheckReadOnlyBit(path, prefetchOn);
    if (wrong == NO_ERROR) {
        outcome.Change();
    } else {
        outcome.Fail(refused != NO_ERROR ? refused : wrong, kStep);
    }
    return outcome;
}
