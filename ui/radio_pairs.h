// The five ON/OFF radio pairs of the main dialog: how setting values become check and enabled
// states, the All-OFF button, the SuperFetch-to-Prefetch coupling, and the selection read back.
// Works through RadioPanel so the rules run without windows.
#pragma once

#include "engine/pair_rules.h"
#include "engine/selection.h"
#include "engine/setting_id.h"
#include "engine/settings_engine.h"

// The radio buttons as the rules see them, addressed by control id.
class RadioPanel {
public:
    virtual void SetCheck(int id, bool checked) = 0;
    virtual bool IsChecked(int id) const = 0;
    virtual void Enable(int id, bool enabled) = 0;

protected:
    ~RadioPanel() = default;
};

struct RadioPair {
    int onId;
    int offId;
    SettingId setting;
};

// In display order, which is also the order every operation sets them in.
extern const RadioPair kRadioPairs[5];

void ShowSettings(RadioPanel& panel, const SettingValues& values, bool isVistaOr7, bool isWin7);
void SetAllOff(RadioPanel& panel);
// A click on the SuperFetch pair; on NT 6 the (disabled) Prefetch pair follows it.
void FollowSuperFetch(RadioPanel& panel, bool superFetchOn, bool isVistaOr7);

// Reads the ON radios at every call, disabled pairs included.
class RadioSelection final : public Selection {
public:
    explicit RadioSelection(const RadioPanel& panel) : m_panel(panel) {}

    bool AutoDefragOn() const override;
    bool IndexOn() const override;
    bool SuperFetchOn() const override;
    bool PreFetchOn() const override;
    bool TrimOn() const override;

private:
    const RadioPanel& m_panel;
};
