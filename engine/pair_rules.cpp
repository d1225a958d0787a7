#include "engine/pair_rules.h"

bool ShowsOn(SettingId setting, std::int32_t value) {
    switch (setting) {
    case AutoDefrag:
        return value == 1;
    case Index:
    case SysMain:
        return value == 2 || value == 3; // automatic or manual start
    case SuperFetch:
    case PreFetch:
        return value != 0;
    case Trim:
        return value == 0; // the registry value disables TRIM
    }
    return false;
}

bool PairAvailable(SettingId pair, bool isVistaOr7, bool isWin7) {
    switch (pair) {
    case SuperFetch:
        return isVistaOr7;
    case Trim:
        return isWin7;
    default:
        return true;
    }
}

bool PrefetchFollowsSuperFetch(bool isVistaOr7) {
    return isVistaOr7;
}

bool PairTakesClicks(SettingId pair, bool isVistaOr7, bool isWin7) {
    if (pair == PreFetch && PrefetchFollowsSuperFetch(isVistaOr7)) {
        return false;
    }
    return PairAvailable(pair, isVistaOr7, isWin7);
}

void ClickPair(PairStates& states, SettingId pair, bool on, bool isVistaOr7) {
    states[pair] = on;
    if (pair == SuperFetch && PrefetchFollowsSuperFetch(isVistaOr7)) {
        states[PreFetch] = on;
    }
}
