#include "engine/layout_file.h"

#include "engine/reg_key.h"
#include "engine/settings_engine.h"
#include "fw/brief_hold.h"
#include "fw/file.h"

namespace {

constexpr const wchar_t* kTemporaryCopy = L"Layout_back.ini";
constexpr UINT kCopyChunk = 260;

// The layout file's path from the registry; empty when the key or value is missing or when the
// value does not fit the buffer together with its terminator.
void ReadLayoutFilePath(WCHAR (&path)[MAX_PATH]) {
    path[0] = L'\0';
    HKEY opened = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, regkey::kOptimalLayout, 0, KEY_QUERY_VALUE, &opened) !=
        ERROR_SUCCESS) {
        return;
    }
    const RegKey key(opened);
    WCHAR buffer[MAX_PATH] = {};
    DWORD size = sizeof(buffer);
    if (RegQueryValueExW(key.Get(), L"LayoutFilePath", nullptr, nullptr,
                         reinterpret_cast<LPBYTE>(buffer), &size) != ERROR_SUCCESS ||
        buffer[MAX_PATH - 1] != L'\0') {
        return;
    }
    for (int i = 0; i < MAX_PATH; ++i) {
        path[i] = buffer[i];
    }
}

void RewriteWithReadOnlyBit(LPCWSTR path, bool prefetchOn, CFile& layoutFile, CFile& copyFile) {
    if (!layoutFile.Open(path, CFile::modeRead)) {
        return;
    }
    CFileStatus status;
    layoutFile.GetStatus(status);
    const bool readOnly = (status.m_attribute & CFile::readOnly) != 0;
    if (prefetchOn != readOnly) {
        return; // already in the wanted state
    }
    // Others may have left a link under that name in the current directory.
    if (!copyFile.Open(kTemporaryCopy, CFile::modeCreate | CFile::modeWrite | CFile::modeNoLinks)) {
        return;
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
            path, [path] { return StepResult(CopyFileW(kTemporaryCopy, path, FALSE)); },
            FILE_ATTRIBUTE_HIDDEN) == NO_ERROR;
    if (copiedBack || !deleted) {
        // Keep the copy while it is the only place that still holds the content.
        DeleteFileWaitingOutHolds(kTemporaryCopy);
    }

    CFileStatus current;
    CFile::GetStatus(path, current);
    if (prefetchOn) {
        current.m_attribute = static_cast<BYTE>(current.m_attribute & ~CFile::readOnly);
    } else {
        current.m_attribute = static_cast<BYTE>(current.m_attribute | CFile::readOnly);
    }
    CFile::SetStatus(path, current);
}

// Whether the file at `path` is as Prefetch wants it; no file there needs no protection.
bool HasWantedReadOnlyBit(LPCWSTR path, bool prefetchOn) {
    const DWORD attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
    return ((attributes & FILE_ATTRIBUTE_READONLY) != 0) != prefetchOn;
}

} // namespace

bool ProtectLayoutFile(bool prefetchOn, CFile& layoutFile, CFile& copyFile) {
    WCHAR path[MAX_PATH];
    ReadLayoutFilePath(path);
    if (path[0] == L'\0') {
        return true;
    }
    RewriteWithReadOnlyBit(path, prefetchOn, layoutFile, copyFile);
    return HasWantedReadOnlyBit(path, prefetchOn);
}
