// Other programs and our files: the scanner that opens each file the program closes after writing
// it, and the holds a test gives a file or a call.
#include "sim_internal.h"

namespace sim {

namespace {

// What another process holding a file open "with no sharing" asked for.
constexpr DWORD kHeldAccess = GENERIC_READ | GENERIC_WRITE | kDeleteAccess;

} // namespace

DWORD OtherProgramConflict(const SimFile& file, DWORD access, DWORD share) {
    const auto& hold = file.otherHold;
    if (hold && State().clock < hold->until && Clashes(access, share, hold->access, hold->share)) {
        return ERROR_SHARING_VIOLATION;
    }
    return 0;
}

void OpenByScanner(Machine::Impl& s, const std::wstring& path, ULONGLONG ticks) {
    const auto file = FindFile(s, path);
    constexpr DWORD kShare = FILE_SHARE_READ | FILE_SHARE_WRITE;
    if (!file || !file->deleteOnClose.empty() || ShareConflict(*file, GENERIC_READ, kShare) != 0) {
        return;
    }
    const ULONGLONG until =
        ticks >= Machine::kForever - s.clock ? Machine::kForever : s.clock + ticks;
    file->otherHold = SimFile::OtherHold{GENERIC_READ, kShare, until};
}

void Machine::HoldOpenByOtherProcess(const std::wstring& path, bool held) {
    if (auto file = FindFile(*impl_, NormalizePath(path, impl_->currentDirectory))) {
        file->otherHold.reset();
        if (held) {
            file->otherHold = SimFile::OtherHold{kHeldAccess, 0, kForever};
        }
    }
}

void Machine::HoldBeforeCall(const std::string& function, int nth, ULONGLONG ticks) {
    impl_->holdsBefore.push_back(HoldBefore{function, nth, ticks});
}

} // namespace sim
