#pragma once

enum SettingId : int { AutoDefrag, Index, SuperFetch, PreFetch, SysMain, Trim };

inline constexpr int kSettingCount = 6;

// The settings by name, in the order they are stored (SysMain before PreFetch), both in the
// profile beside the program and in the PC's snapshot in the registry.
struct SettingName {
    SettingId id;
    const wchar_t* name;
};
inline constexpr SettingName kStoredSettings[] = {
    {AutoDefrag, L"AutoDefrag"}, {Index, L"Index"},       {SuperFetch, L"SuperFetch"},
    {SysMain, L"SysMain"},       {PreFetch, L"PreFetch"}, {Trim, L"Trim"},
};
