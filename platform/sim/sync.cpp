// Named mutexes owned per simulated process, and a second process of the program run between
// two calls of the first.
#include "sim_internal.h"

#include <stdexcept>

namespace sim {

namespace {

HANDLE FailHandle(DWORD error) {
    SetError(error);
    return nullptr;
}

} // namespace

DWORD WaitForMutex(HandleObject& handle, DWORD milliseconds) {
    auto& s = State();
    SimMutex& mutex = s.mutexes[handle.objectName];
    // WaitForSingleObject: a mutex whose owner ended without releasing it is abandoned; the next
    // wait gets it with WAIT_ABANDONED. A thread that owns it gets it again (recursion).
    if (mutex.owner == 0 || mutex.owner == s.processId) {
        const bool abandoned = mutex.abandoned;
        mutex.owner = s.processId;
        mutex.abandoned = false;
        ++mutex.count;
        return abandoned ? WAIT_ABANDONED : WAIT_OBJECT_0;
    }
    // The owner is a process stopped between two calls: it cannot release before the time is up.
    if (milliseconds == INFINITE) {
        throw std::logic_error("waiting without end for a mutex that another process holds");
    }
    s.clock += static_cast<ULONGLONG>(milliseconds) * 10000u;
    return WAIT_TIMEOUT;
}

void AbandonMutexesOf(Machine::Impl& s, DWORD process) {
    for (auto& [name, mutex] : s.mutexes) {
        if (mutex.owner == process) {
            mutex = SimMutex{0, 0, true};
        }
    }
}

void Machine::RunAsOtherProcess(const std::function<void()>& run) {
    Impl& s = *impl_;
    const DWORD first = s.processId;
    const DWORD firstError = s.lastError;
    const DWORD other = s.nextProcessId++;
    s.processId = other;
    s.lastError = 0;
    run();
    AbandonMutexesOf(s, other);
    s.processId = first;
    s.lastError = firstError;
}

} // namespace sim

using namespace sim;

HANDLE CreateMutexW(LPSECURITY_ATTRIBUTES lpMutexAttributes, BOOL bInitialOwner, LPCWSTR lpName) {
    const std::wstring name = Str(lpName);
    if (auto fault = Enter("CreateMutexW", name, static_cast<DWORD>(bInitialOwner))) {
        return FailHandle(*fault);
    }
    if (name.empty() || bInitialOwner) {
        return FailHandle(ERROR_INVALID_PARAMETER); // unnamed or initially owned: not modelled
    }
    auto& s = State();
    // CreateMutexW: the name of an existing mutex opens it, with ERROR_ALREADY_EXISTS.
    const bool existed = s.mutexes.count(name) != 0;
    s.mutexes.try_emplace(name);
    const std::uintptr_t value = s.NewHandleValue();
    HandleObject& handle = s.handles[value];
    handle.kind = HandleKind::Mutex;
    handle.access = 0x1F0001u; // MUTEX_ALL_ACCESS
    handle.objectName = name;
    handle.inheritable = lpMutexAttributes && lpMutexAttributes->bInheritHandle;
    SetError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return reinterpret_cast<HANDLE>(value);
}

BOOL ReleaseMutex(HANDLE hMutex) {
    if (auto fault = Enter("ReleaseMutex")) {
        SetError(*fault);
        return FALSE;
    }
    HandleObject* handle = FindHandle(hMutex, HandleKind::Mutex);
    if (!handle) {
        SetError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    auto& s = State();
    SimMutex& mutex = s.mutexes[handle->objectName];
    // ReleaseMutex: "fails if the calling thread does not own the mutex object".
    if (mutex.owner != s.processId) {
        SetError(ERROR_NOT_OWNER);
        return FALSE;
    }
    if (--mutex.count == 0) {
        mutex.owner = 0;
    }
    return TRUE;
}
