#pragma once

#include "platform/win32.h"

// Owns a key that was opened successfully and closes it when it goes out of scope.
class RegKey {
public:
    explicit RegKey(HKEY key) : m_hKey(key) {}
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;
    ~RegKey() { RegCloseKey(m_hKey); }

    HKEY Get() const { return m_hKey; }

private:
    HKEY m_hKey;
};
