#include "engine/run_lock.h"

namespace {

// Global\: one lock for every session of the PC, a service's and a remote session's included.
constexpr const wchar_t* kName = L"Global\\Quillmarsh.ConsoleRun";

} // namespace

RunLock::~RunLock() {
    if (m_held) {
        ReleaseMutex(m_mutex);
    }
    if (m_mutex != nullptr) {
        CloseHandle(m_mutex);
    }
}

DWORD RunLock::Acquire(DWORD timeout) {
    m_mutex = CreateMutexW(nullptr, FALSE, kName);
    if (m_mutex == nullptr) {
        return GetLastError();
    }
    switch (WaitForSingleObject(m_mutex, timeout)) {
    case WAIT_OBJECT_0:
    case WAIT_ABANDONED: // what it guards is whole or absent, so a crashed run leaves nothing half
        m_held = true;
        return NO_ERROR;
    case WAIT_TIMEOUT:
        return ERROR_TIMEOUT;
    default:
        return GetLastError();
    }
}
