#include "ui/radio_pairs.h"

#include "res/resource.h"

const RadioPair kRadioPairs[5] = {
    {IDC_AUTODEFRAG_ON, IDC_AUTODEFRAG_OFF, AutoDefrag},
    {IDC_INDEX_ON, IDC_INDEX_OFF, Index},
    {IDC_SUPERFETCH_ON, IDC_SUPERFETCH_OFF, SuperFetch},
    {IDC_PREFETCH_ON, IDC_PREFETCH_OFF, PreFetch},
    {IDC_TRIM_ON, IDC_TRIM_OFF, Trim},
};

namespace {

// ON radio first, then its partner.
void SetPair(RadioPanel& panel, const RadioPair& pair, bool on) {
    panel.SetCheck(pair.onId, on);
    panel.SetCheck(pair.offId, !on);
}

const RadioPair& PrefetchPair() {
    return kRadioPairs[3];
}

void EnablePair(RadioPanel& panel, const RadioPair& pair, bool enabled) {
    panel.Enable(pair.onId, enabled);
    panel.Enable(pair.offId, enabled);
}

} // namespace

void ShowSettings(RadioPanel& panel, const SettingValues& values, bool isVistaOr7, bool isWin7) {
    for (const RadioPair& pair : kRadioPairs) {
        SetPair(panel, pair, ShowsOn(pair.setting, values[pair.setting]));
        switch (pair.setting) {
        case SuperFetch:
            EnablePair(panel, pair, PairTakesClicks(pair.setting, isVistaOr7, isWin7));
            if (!PairAvailable(pair.setting, isVistaOr7, isWin7)) {
                SetPair(panel, pair, false); // shows OFF where Windows has none
            }
            break;
        case PreFetch:
        case Trim:
            EnablePair(panel, pair, PairTakesClicks(pair.setting, isVistaOr7, isWin7));
            break;
        default:
            break;
        }
    }
}

void SetAllOff(RadioPanel& panel) {
    for (const RadioPair& pair : kRadioPairs) {
        SetPair(panel, pair, false);
    }
}

void FollowSuperFetch(RadioPanel& panel, bool superFetchOn, bool isVistaOr7) {
    if (PrefetchFollowsSuperFetch(isVistaOr7)) {
        SetPair(panel, PrefetchPair(), superFetchOn);
    }
}

bool RadioSelection::AutoDefragOn() const {
    return m_panel.IsChecked(IDC_AUTODEFRAG_ON);
}
bool RadioSelection::IndexOn() const {
    return m_panel.IsChecked(IDC_INDEX_ON);
}
bool RadioSelection::SuperFetchOn() const {
    return m_panel.IsChecked(IDC_SUPERFETCH_ON);
}
bool RadioSelection::PreFetchOn() const {
    return m_panel.IsChecked(IDC_PREFETCH_ON);
}
bool RadioSelection::TrimOn() const {
    return m_panel.IsChecked(IDC_TRIM_ON);
}
