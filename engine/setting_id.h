#pragma once

enum SettingId : int { AutoDefrag, Index, SuperFetch, PreFetch, SysMain, Trim };

inline constexpr int kSettingCount = 6;
