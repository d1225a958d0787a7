#include "engine/registry.h"

#include "engine/reg_key.h"

std::int32_t QueryDword(LPCWSTR subkey, LPCWSTR valueName) {
    HKEY opened = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, subkey, 0, KEY_QUERY_VALUE, &opened) != ERROR_SUCCESS) {
        return -1;
    }
    const RegKey key(opened);
    DWORD type = 0;
    DWORD data = 0;
    DWORD size = sizeof(data);
    const LSTATUS status = RegQueryValueExW(key.Get(), valueName, nullptr, &type,
                                            reinterpret_cast<LPBYTE>(&data), &size);
    if (status != ERROR_SUCCESS || type != REG_DWORD) {
        return -1;
    }
    return static_cast<std::int32_t>(data);
}

LSTATUS SetDword(LPCWSTR subkey, LPCWSTR valueName, DWORD data) {
    HKEY created = nullptr;
    // Only what the store and the flush need: a key hardened to allow just these still takes the
    // value.
    const LSTATUS opened =
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, subkey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_SET_VALUE | KEY_QUERY_VALUE, nullptr, &created, nullptr);
    if (opened != ERROR_SUCCESS) {
        return opened;
    }
    const RegKey key(created);
    const LSTATUS stored = RegSetValueExW(key.Get(), valueName, 0, REG_DWORD,
                                          reinterpret_cast<const BYTE*>(&data), sizeof(data));
    if (stored == ERROR_SUCCESS) {
        RegFlushKey(key.Get());
    }
    return stored;
}
