// How long launched programs run, waiting on them, and ending them.
#include "sim_internal.h"

#include <stdexcept>

namespace sim {

void Machine::SetProgramRunTime(ULONGLONG ticks) {
    impl_->programRunTicks = ticks;
}

ULONGLONG LaunchedProgramEnd(const Machine::Impl& s) {
    return s.programRunTicks >= Machine::kForever - s.clock ? Machine::kForever
                                                            : s.clock + s.programRunTicks;
}

DWORD WaitForProcess(std::uintptr_t handle, DWORD milliseconds) {
    auto& s = State();
    const ULONGLONG end = s.processEnds[handle];
    if (s.clock >= end) {
        return WAIT_OBJECT_0;
    }
    const ULONGLONG wait = milliseconds == INFINITE ? Machine::kForever
                                                    : static_cast<ULONGLONG>(milliseconds) * 10000u;
    if (end - s.clock <= wait) {
        s.clock = end;
        return WAIT_OBJECT_0;
    }
    if (milliseconds == INFINITE) {
        throw std::logic_error("waiting without end for a program that never ends");
    }
    s.clock += wait;
    return WAIT_TIMEOUT;
}

} // namespace sim

using namespace sim;

BOOL TerminateProcess(HANDLE hProcess, UINT uExitCode) {
    if (auto fault = Enter("TerminateProcess", {}, uExitCode)) {
        SetError(*fault);
        return FALSE;
    }
    const HandleObject* process = FindHandle(hProcess, HandleKind::Process);
    if (!process) {
        SetError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    auto& s = State();
    ULONGLONG& end = s.processEnds[reinterpret_cast<std::uintptr_t>(hProcess)];
    // TerminateProcess on a process that has ended already fails with ERROR_ACCESS_DENIED
    // (test_TerminateProcess, dlls/kernel32/tests/process.c).
    if (s.clock >= end) {
        SetError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    end = s.clock;
    TheMachine().exitCode = uExitCode;
    TheMachine().terminatedPrograms++;
    return TRUE;
}
