// How the five ON/OFF pairs read the setting values on a Windows generation, which of them a
// person can click, and what a click carries along. The dialog shows them as radio pairs; the
// console program starts from the same state and clicks the pairs its command names.
#pragma once

#include "engine/setting_id.h"

#include <array>
#include <cstdint>

// Whether a setting value shows as ON.
bool ShowsOn(SettingId setting, std::int32_t value);

// Whether this generation has the feature at all: no SuperFetch before NT 6, no TRIM before
// Windows 7.
bool PairAvailable(SettingId pair, bool isVistaOr7, bool isWin7);

// On NT 6 Prefetch has no pair of its own to click: a click on SuperFetch sets it too.
bool PrefetchFollowsSuperFetch(bool isVistaOr7);

// Whether a person can click the pair (the dialog enables it).
bool PairTakesClicks(SettingId pair, bool isVistaOr7, bool isWin7);

// The pairs' ON states by SettingId (SysMain has no pair and is unused).
using PairStates = std::array<bool, kSettingCount>;

// A click ON or OFF on `pair`, with what it carries along.
void ClickPair(PairStates& states, SettingId pair, bool on, bool isVistaOr7);
