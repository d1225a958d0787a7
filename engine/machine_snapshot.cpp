#include "engine/machine_snapshot.h"

#include "engine/reg_key.h"

namespace {

// The program is 64-bit; the view is named anyway, so the place never depends on the build.
constexpr REGSAM kView = KEY_WOW64_64KEY;

bool ReadDword(HKEY key, LPCWSTR name, DWORD& data) {
    DWORD type = 0;
    DWORD size = sizeof(data);
    return RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<LPBYTE>(&data), &size) ==
               ERROR_SUCCESS &&
           type == REG_DWORD && size == sizeof(data);
}

LSTATUS WriteDword(HKEY key, LPCWSTR name, DWORD data) {
    return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data),
                          sizeof(data));
}

SnapshotState ReadFrom(HKEY key, SettingValues& values) {
    // The mark first: it is written last, so six whole values are behind it.
    DWORD mark = 0;
    if (!ReadDword(key, kSnapshotMark, mark) || mark != 1) {
        return SnapshotState::Absent;
    }
    SettingValues read{};
    for (const SettingName& value : kStoredSettings) {
        DWORD data = 0;
        if (!ReadDword(key, value.name, data)) {
            return SnapshotState::Damaged;
        }
        read[value.id] = static_cast<std::int32_t>(data);
    }
    values = read;
    return SnapshotState::Whole;
}

} // namespace

SnapshotState ReadMachineSnapshot(SettingValues& values) {
    HKEY opened = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, regkey::kSnapshot, 0, KEY_QUERY_VALUE | kView, &opened) !=
        ERROR_SUCCESS) {
        return SnapshotState::Absent;
    }
    const RegKey key(opened);
    return ReadFrom(key.Get(), values);
}

DWORD SaveMachineSnapshot(SettingValues& values) {
    HKEY created = nullptr;
    const LSTATUS status =
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, regkey::kSnapshot, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_SET_VALUE | KEY_QUERY_VALUE | kView, nullptr, &created, nullptr);
    if (status != ERROR_SUCCESS) {
        return static_cast<DWORD>(status);
    }
    const RegKey key(created);
    switch (ReadFrom(key.Get(), values)) {
    case SnapshotState::Whole:
        return NO_ERROR;
    case SnapshotState::Damaged:
        return ERROR_INVALID_DATA;
    case SnapshotState::Absent:
        break;
    }
    for (const SettingName& value : kStoredSettings) {
        const LSTATUS stored =
            WriteDword(key.Get(), value.name, static_cast<DWORD>(values[value.id]));
        if (stored != ERROR_SUCCESS) {
            return static_cast<DWORD>(stored);
        }
    }
    // On the disk before the mark, so that the mark never stands for values that are not there.
    LSTATUS flushed = RegFlushKey(key.Get());
    if (flushed == ERROR_SUCCESS) {
        flushed = WriteDword(key.Get(), kSnapshotMark, 1);
    }
    if (flushed == ERROR_SUCCESS) {
        flushed = RegFlushKey(key.Get());
    }
    return static_cast<DWORD>(flushed);
}
