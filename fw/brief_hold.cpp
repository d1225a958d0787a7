#include "fw/brief_hold.h"

#include <iterator>

namespace {

// Growing pauses, as programs that meet these holds in the field use: 1.575 s in all.
constexpr DWORD kPausesMs[] = {25, 50, 100, 200, 400, 800};

// Sharing and lock violations come from another program's open handle or byte-range lock.
// ERROR_ACCESS_DENIED is also what a file mapped elsewhere, or waiting for a deletion that its
// last handle completes, gives; but a read-only file, a directory, a name that does not exist
// (the folder refuses it), or an attribute that refuses this very call, refuses for good and is
// not waited on.
bool IsHold(DWORD error, LPCWSTR path, DWORD alsoForGood) {
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) {
        return true;
    }
    if (error != ERROR_ACCESS_DENIED || alsoForGood == kDeniedForGood) {
        return false;
    }
    const DWORD attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        // A file whose deletion is pending cannot be opened even to read its attributes.
        return GetLastError() == ERROR_ACCESS_DENIED;
    }
    return (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY | alsoForGood)) == 0;
}

} // namespace

bool PauseIfHeld(DWORD error, LPCWSTR path, unsigned& attempt, DWORD alsoForGood) {
    if (attempt >= std::size(kPausesMs) || !IsHold(error, path, alsoForGood)) {
        return false;
    }
    Sleep(kPausesMs[attempt++]);
    return true;
}

BOOL DeleteFileWaitingOutHolds(LPCWSTR path) {
    return RetryWhileHeld(path, [path] { return StepResult(DeleteFileW(path)); }) == NO_ERROR;
}
