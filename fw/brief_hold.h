// Waiting out other programs' brief holds on our files.
#pragma once

#include "platform/win32.h"

// Anti-virus scanners, the indexer and backup agents open, map or lock a file the moment it is
// closed, for a moment; a rename, delete, exclusive open, read or write that meets one of them
// fails although the same call shortly after would pass. When `error` (what the step on `path`
// just reported) is such a hold and the time allowed for holds (about 1.6 s, in growing pauses)
// is not over, pauses and returns true: try again. `attempt` counts the pauses; it starts at 0.
// ERROR_ACCESS_DENIED is a hold only while `path` has none of the attributes that refuse the call
// for good: read-only and directory, and `alsoForGood`.
bool PauseIfHeld(DWORD error, LPCWSTR path, unsigned& attempt, DWORD alsoForGood = 0);

// For `alsoForGood`: the call's ERROR_ACCESS_DENIED never comes from a hold (a handle's rights).
constexpr DWORD kDeniedForGood = ~DWORD{0};

// Runs `step` until it succeeds, fails for another reason, or holds have taken their time.
// `step` returns NO_ERROR or the error its call reported, read right after that call. Returns the
// last result and leaves it in GetLastError. A step that succeeds at once costs nothing more.
template <typename Step> DWORD RetryWhileHeld(LPCWSTR path, Step step, DWORD alsoForGood = 0) {
    unsigned attempt = 0;
    DWORD error = NO_ERROR;
    do {
        error = step();
    } while (error != NO_ERROR && PauseIfHeld(error, path, attempt, alsoForGood));
    SetLastError(error);
    return error;
}

// What a step returns: NO_ERROR when its call succeeded, else the call's error, read at once.
inline DWORD StepResult(bool succeeded) {
    return succeeded ? NO_ERROR : GetLastError();
}

// DeleteFileW, waiting out brief holds.
BOOL DeleteFileWaitingOutHolds(LPCWSTR path);
