#pragma once

#include "platform/win32.h"

// Serialises the console program's runs on one PC, across sessions, through a Global\ mutex.
// Released when it goes out of scope.
class RunLock {
public:
    RunLock() = default;
    RunLock(const RunLock&) = delete;
    RunLock& operator=(const RunLock&) = delete;
    ~RunLock();

    // NO_ERROR once this run holds the lock (also when a run before ended without giving it
    // back); ERROR_TIMEOUT when another run kept it for `timeout` ms; else what refused it.
    DWORD Acquire(DWORD timeout);

private:
    HANDLE m_mutex = nullptr;
    bool m_held = false;
};
