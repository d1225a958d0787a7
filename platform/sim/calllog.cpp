// The machine's lifecycle, the call log, fault injection and the per-process last error.
#include "sim_internal.h"

#include <algorithm>

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
    for (const wchar_t* dir : {L"C:\\", L"C:\\Windows", L"C:\\Windows\\system32",
                               L"C:\\Program Files", L"C:\\Program Files\\Quillmarsh"}) {
        AddDirectoryPath(s, dir, true);
    }
    for (const wchar_t* system : {L"fsutil.exe", L"kernel32.dll", L"shell32.dll"}) {
        AddFile(s, std::wstring(L"C:\\Windows\\system32\\") + system, FILE_ATTRIBUTE_ARCHIVE)
            ->content = "MZ";
    }
    s.modulePath = L"C:\\Program Files\\Quillmarsh\\Quillmarsh.exe";
    s.currentDirectory = L"C:\\Program Files\\Quillmarsh";

    launches.clear();
    waitCount = 0;
    exitCode = 0;
    openProcessCount = 0;
    tokenOpens = true;
    privilegeHeld = true;
    exitSucceeds = true;
    exitRequests.clear();
    dllDirectoriesAvailable = true;
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

std::optional<DWORD> Enter(const char* function, const std::wstring& target, DWORD detail) {
    Machine& m = TheMachine();
    m.calls.push_back(CallRecord{function, target, detail});
    Machine::Impl& s = m.impl();
    const int count = ++s.callCounts[function];
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
