// Other programs and our files: the scanner that opens each file the program closes after writing
// it, and the holds a test gives a file or a call: an open handle, a mapping, a byte-range lock, a
// deletion waiting for that program's handle.
#include "sim_internal.h"

#include <vector>

namespace sim {

namespace {

using Hold = Machine::Hold;

// What another process holding a file open "with no sharing" asked for.
constexpr DWORD kHeldAccess = GENERIC_READ | GENERIC_WRITE | kDeleteAccess;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

const SimFile::OtherHold* ActiveHold(const SimFile& file, ULONGLONG clock = State().clock) {
    const auto& hold = file.otherHold;
    return hold && clock < hold->until ? &*hold : nullptr;
}

DWORD Refused(DWORD error) {
    TheMachine().refusedByOtherPrograms.push_back(TheMachine().calls.size() - 1);
    return error;
}

// The open each kind of hold starts with.
SimFile::OtherHold OpenFor(Hold hold) {
    switch (hold) {
    case Hold::Scanner:
    case Hold::Lock:
        return {GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, 0, hold};
    case Hold::Indexer:
    case Hold::Map:
        return {GENERIC_READ, kShareAll, 0, hold};
    case Hold::Delete:
        return {GENERIC_READ | kDeleteAccess, kShareAll, 0, hold};
    }
    return {};
}

} // namespace

DWORD OtherProgramConflict(const SimFile& file, DWORD access, DWORD share) {
    const SimFile::OtherHold* hold = ActiveHold(file);
    // A program that maps a file may close its handle; the mapping alone shares everything.
    if (hold && hold->kind != Hold::Map && Clashes(access, share, hold->access, hold->share)) {
        return Refused(ERROR_SHARING_VIOLATION);
    }
    return 0;
}

bool HeldOpenByOtherProgram(const Machine::Impl& s, const SimFile& file) {
    const SimFile::OtherHold* hold = ActiveHold(file, s.clock);
    return hold && hold->kind != Hold::Map;
}

DWORD DeletePending(const SimFile& file) {
    if (file.deleteOnClose.empty()) {
        return 0;
    }
    // DeleteFileW: "Subsequent calls to CreateFile to open the file fail with
    // ERROR_ACCESS_DENIED" while the deletion waits for the last handle.
    return HeldOpenByOtherProgram(State(), file) ? Refused(ERROR_ACCESS_DENIED)
                                                 : ERROR_ACCESS_DENIED;
}

DWORD MappedRefusal(const SimFile& file, bool truncates) {
    const SimFile::OtherHold* hold = ActiveHold(file);
    if (!hold || hold->kind != Hold::Map) {
        return 0;
    }
    // SetEndOfFile: views must be unmapped first (ERROR_USER_MAPPED_FILE); test_DeleteFileA: a
    // mapped file refuses deletion with ERROR_ACCESS_DENIED.
    return Refused(truncates ? ERROR_USER_MAPPED_FILE : ERROR_ACCESS_DENIED);
}

DWORD LockRefusal(const SimFile& file) {
    const SimFile::OtherHold* hold = ActiveHold(file);
    // ReadFile, WriteFile: fail where another process has locked the range.
    return hold && hold->kind == Hold::Lock ? Refused(ERROR_LOCK_VIOLATION) : 0;
}

void TakeHold(Machine::Impl& s, const std::wstring& path, ULONGLONG ticks, Hold hold) {
    const auto file = FindFile(s, path);
    if (!file || !file->deleteOnClose.empty()) {
        return;
    }
    // One other program per file: a new hold takes the place of the last one.
    file->otherHold.reset();
    SimFile::OtherHold taken = OpenFor(hold);
    if (ShareConflict(*file, taken.access, taken.share) != 0) {
        return;
    }
    taken.until = ticks >= Machine::kForever - s.clock ? Machine::kForever : s.clock + ticks;
    file->otherHold = taken;
    if (hold == Hold::Delete) {
        file->deleteOnClose = Upper(path);
    }
}

void OpenByScanner(Machine::Impl& s, const std::wstring& path, ULONGLONG ticks) {
    TakeHold(s, path, ticks, Hold::Scanner);
}

void OtherProgramsCatchUp(Machine::Impl& s) {
    std::vector<std::shared_ptr<SimFile>> released;
    for (const auto& [name, file] : s.files) {
        if (file->otherHold && s.clock >= file->otherHold->until) {
            file->otherHold.reset();
            released.push_back(file);
        }
    }
    for (const auto& file : released) {
        CompletePendingDelete(s, file);
    }
}

void Machine::HoldOpenByOtherProcess(const std::wstring& path, bool held) {
    if (auto file = FindFile(*impl_, NormalizePath(path, impl_->currentDirectory))) {
        file->otherHold.reset();
        if (held) {
            file->otherHold = SimFile::OtherHold{kHeldAccess, 0, kForever, Hold::Scanner};
        }
    }
}

void Machine::HoldBeforeCall(const std::string& function, int nth, ULONGLONG ticks, Hold hold) {
    impl_->holdsBefore.push_back(HoldBefore{function, nth, ticks, hold});
}

void Machine::HoldFile(const std::wstring& path, Hold hold, ULONGLONG ticks) {
    TakeHold(*impl_, NormalizePath(path, impl_->currentDirectory), ticks, hold);
}

void Machine::EndOtherPrograms() {
    for (const auto& [name, file] : impl_->files) {
        if (file->otherHold) {
            file->otherHold->until = 0;
        }
    }
    OtherProgramsCatchUp(*impl_);
}

} // namespace sim
