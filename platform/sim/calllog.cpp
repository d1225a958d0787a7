// The machine's lifecycle, the call log, fault injection and the per-process last error.
#include "sim_internal.h"

#include <algorithm>
#include <map>

namespace sim {

Machine::Machine() : impl_(std::make_unique<Impl>()) {
    Reset();
}
Machine::~Machine() = default;

Machine::Impl& Machine::impl() {
    return *impl_;
}

Machine& TheMachine() {
    static Machine machine;
    return machine;
}

Machine::Impl& State() {
    return TheMachine().impl();
}

void Machine::Reset() {
    *impl_ = Impl{};
    Impl& s = *impl_;
    for (const wchar_t* root : {L"HKLM", L"HKCU", L"HKCR"}) {
        s.keys[root] = RegKey{root, {}, 0};
    }
    s.clock = 129000000000000000ull; // 2009-10-14, around the time Windows 7 shipped
    for (const wchar_t* dir :
         {L"C:\\", L"C:\\Windows", L"C:\\Windows\\system32", L"C:\\Program Files",
          L"C:\\Program Files\\Quillmarsh", L"C:\\Users\\Admin\\AppData\\Local\\Temp"}) {
        AddDirectoryPath(s, dir, true);
    }
    for (const wchar_t* system : {L"fsutil.exe", L"kernel32.dll", L"shell32.dll", L"shcore.dll"}) {
        AddFile(s, std::wstring(L"C:\\Windows\\system32\\") + system, FILE_ATTRIBUTE_ARCHIVE)
            ->content = "MZ";
    }
    s.modulePath = L"C:\\Program Files\\Quillmarsh\\Quillmarsh.exe";
    s.currentDirectory = L"C:\\Program Files\\Quillmarsh";

    launches.clear();
    waitCount = 0;
    exitCode = 0;
    openProcessCount = 0;
    openThreadCount = 0;
    tokenOpens = true;
    privilegeHeld = true;
    exitSucceeds = true;
    exitRequests.clear();
    terminatedPrograms = 0;
    dllDirectoriesAvailable = true;
    loadedLibraries.clear();
    fsutilStoresValue = true;
    scannerHold.reset();
    refusedByOtherPrograms.clear();
    messageBoxAnswers.clear();
    messageBoxes.clear();
    calls.clear();
}

std::vector<CallRecord> Machine::CallsTo(const std::string& function) const {
    std::vector<CallRecord> out;
    std::copy_if(calls.begin(), calls.end(), std::back_inserter(out),
                 [&](const CallRecord& c) { return c.function == function; });
    return out;
}

void Machine::InjectFault(const std::string& function, DWORD error, int nth) {
    impl_->faults.push_back(Fault{function, error, nth});
}

void Machine::ClearFaults() {
    impl_->faults.clear();
}

void Machine::InjectAction(const std::string& function, int nth, std::function<void()> action) {
    impl_->actions.push_back(Action{function, nth, std::move(action)});
}

namespace {

// A copy that shares no file with the original; hard links stay one file.
Machine::Impl DeepCopy(const Machine::Impl& s) {
    Machine::Impl copy = s;
    copy.endedState.reset();
    std::map<const SimFile*, std::shared_ptr<SimFile>> clones;
    const auto clone = [&clones](const std::shared_ptr<SimFile>& file) {
        std::shared_ptr<SimFile>& twin = clones[file.get()];
        if (!twin) {
            twin = std::make_shared<SimFile>(*file);
        }
        return twin;
    };
    for (auto& [name, file] : copy.files) {
        file = clone(file);
    }
    for (auto& [value, handle] : copy.handles) {
        if (handle.file) {
            handle.file = clone(handle.file);
        }
    }
    for (auto& [name, before] : copy.unflushedNames) {
        if (before) {
            before = clone(before);
        }
    }
    return copy;
}

} // namespace

void Machine::EndBeforeCall(int nth, Ending ending) {
    impl_->endBeforeCall = nth;
    impl_->ending = ending;
    impl_->endedState.reset();
}

bool Machine::LeaveEnded() {
    if (!impl_->endedState) {
        return false;
    }
    Impl left = std::move(*impl_->endedState);
    const bool powerCut = impl_->ending == Ending::PowerCut;
    std::vector<std::shared_ptr<SimFile>> open;
    for (const auto& [value, handle] : left.handles) {
        if (handle.file) {
            open.push_back(handle.file);
        }
    }
    left.handles.clear();
    left.keyHandles.clear();
    KeepWhatTheDiskHolds(left, powerCut);
    for (const auto& file : open) {
        CompletePendingDelete(left, file);
    }
    left.searchLocked = false;
    left.currentDirectoryOutOfSearch = false;
    left.shutdownEnabled = false;
    AbandonMutexesOf(left, left.processId);
    left.lastError = 0;
    left.faults.clear();
    left.actions.clear();
    left.holdsBefore.clear();
    left.callCounts.clear();
    left.endBeforeCall = 0;
    *impl_ = std::move(left);
    openProcessCount = 0;
    openThreadCount = 0;
    return true;
}

std::optional<DWORD> Enter(const char* function, const std::wstring& target, DWORD detail) {
    Machine& m = TheMachine();
    m.calls.push_back(CallRecord{function, target, detail});
    Machine::Impl& s = m.impl();
    if (s.endBeforeCall == static_cast<int>(m.calls.size())) {
        s.endedState = std::make_shared<Machine::Impl>(DeepCopy(s));
    }
    const int count = ++s.callCounts[function];
    s.holdOnThisCall.reset();
    for (auto it = s.holdsBefore.begin(); it != s.holdsBefore.end(); ++it) {
        if (it->function == function && it->nth == count) {
            s.holdOnThisCall = *it;
            TakeHold(s, target, it->ticks, it->kind);
            s.holdsBefore.erase(it);
            break;
        }
    }
    for (auto it = s.actions.begin(); it != s.actions.end(); ++it) {
        if (it->function == function && it->nth == count) {
            // Taken out first: the action may call into the machine itself.
            const std::function<void()> run = std::move(it->run);
            s.actions.erase(it);
            run();
            break;
        }
    }
    for (const Fault& f : s.faults) {
        if (f.function == function && (f.nth == 0 || f.nth == count)) {
            return f.error;
        }
    }
    return std::nullopt;
}

void SetError(DWORD error) {
    State().lastError = error;
}

} // namespace sim

DWORD GetLastError() {
    return sim::State().lastError;
}
void SetLastError(DWORD dwErrCode) {
    sim::State().lastError = dwErrCode;
}
