#include "fw/unlinked_file.h"

#include "fw/brief_hold.h"

namespace {

constexpr DWORD kNoFollow = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;

HANDLE CloseAndFail(HANDLE opened, DWORD error) {
    CloseHandle(opened);
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
}

} // namespace

HANDLE CreateUnlinkedFile(LPCWSTR fileName, DWORD access, DWORD share) {
    const HANDLE existing = CreateFileW(fileName, access | FILE_READ_ATTRIBUTES, share, nullptr,
                                        OPEN_EXISTING, kNoFollow, nullptr);
    if (existing != INVALID_HANDLE_VALUE) {
        BY_HANDLE_FILE_INFORMATION info{};
        if (!GetFileInformationByHandle(existing, &info)) {
            return CloseAndFail(existing, GetLastError());
        }
        const bool plain =
            info.nNumberOfLinks == 1 && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
        if (plain) {
            // CREATE_ALWAYS refuses to overwrite these unless asked for the same attributes.
            if ((info.dwFileAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) != 0) {
                return CloseAndFail(existing, ERROR_ACCESS_DENIED);
            }
            return SetEndOfFile(existing) ? existing : CloseAndFail(existing, GetLastError());
        }
        CloseHandle(existing);
        if (!DeleteFileW(fileName)) {
            return INVALID_HANDLE_VALUE;
        }
    } else if (GetLastError() != ERROR_FILE_NOT_FOUND) {
        return INVALID_HANDLE_VALUE;
    }
    return CreateFileW(fileName, access, share, nullptr, CREATE_NEW, kNoFollow, nullptr);
}

HANDLE OpenUnlinkedFileForAppend(LPCWSTR fileName, DWORD share) {
    HANDLE file = INVALID_HANDLE_VALUE;
    // Append data only: every write goes to the end, whoever else appends meanwhile.
    RetryWhileHeld(fileName, [&] {
        file = CreateFileW(fileName, FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE, share,
                           nullptr, OPEN_ALWAYS, kNoFollow, nullptr);
        return StepResult(file != INVALID_HANDLE_VALUE);
    });
    if (file == INVALID_HANDLE_VALUE) {
        return INVALID_HANDLE_VALUE;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(file, &info)) {
        return CloseAndFail(file, GetLastError());
    }
    if (info.nNumberOfLinks != 1 || (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return CloseAndFail(file, ERROR_ACCESS_DENIED);
    }
    return file;
}
