#include "res/resource.h"
#include "ui/radio_pairs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>

#include <map>
#include <string>
#include <vector>

namespace {

// Ten radios with check and enabled states, and a log of every change in order.
class FakePanel : public RadioPanel {
public:
    void SetCheck(int id, bool checked) override {
        checks[id] = checked;
        log.push_back((checked ? "+" : "-") + std::to_string(id));
    }
    bool IsChecked(int id) const override {
        reads.push_back(id);
        const auto found = checks.find(id);
        return found != checks.end() && found->second;
    }
    void Enable(int id, bool enable) override {
        enabled[id] = enable;
        log.push_back((enable ? "E" : "D") + std::to_string(id));
    }

    // What an automatic radio does on a click.
    void Click(int onId, int offId) {
        checks[onId] = true;
        checks[offId] = false;
    }
    bool On(int onId, int offId) const { return checks.at(onId) && !checks.at(offId); }
    bool Off(int onId, int offId) const { return !checks.at(onId) && checks.at(offId); }

    std::map<int, bool> checks;
    std::map<int, bool> enabled;
    std::vector<std::string> log;
    mutable std::vector<int> reads;
};

struct Os {
    const char* name;
    bool isVistaOr7;
    bool isWin7;
};
const Os kXp{"XP", false, false};
const Os kVista{"Vista", true, false};
const Os kWin7{"Win7", true, true};

const SettingValues kAllOnValues{1, 2, 3, 3, 2, 0};
const SettingValues kAllOffValues{0, 4, 0, 0, 4, 1};

TEST(RadioPairs, TableNamesTheControlsOfEachSetting) {
    const RadioPair expected[] = {{1000, 1001, AutoDefrag},
                                  {1002, 1003, Index},
                                  {1004, 1005, SuperFetch},
                                  {1006, 1007, PreFetch},
                                  {1010, 1011, Trim}};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(kRadioPairs[i].onId, expected[i].onId) << i;
        EXPECT_EQ(kRadioPairs[i].offId, expected[i].offId) << i;
        EXPECT_EQ(kRadioPairs[i].setting, expected[i].setting) << i;
    }
}

TEST(RadioPairs, EnabledStatesFollowTheWindowsGeneration) {
    struct Row {
        Os os;
        bool autoDefrag, index, superFetch, preFetch, trim;
    };
    const Row rows[] = {{kXp, true, true, false, true, false},
                        {kVista, true, true, true, false, false},
                        {kWin7, true, true, true, false, true}};
    for (const Row& row : rows) {
        for (const SettingValues& values : {kAllOnValues, kAllOffValues}) {
            FakePanel panel;
            ShowSettings(panel, values, row.os.isVistaOr7, row.os.isWin7);
            const bool wanted[] = {row.autoDefrag, row.index, row.superFetch, row.preFetch,
                                   row.trim};
            for (int i = 0; i < 5; ++i) {
                // Pairs that are always enabled are never touched; the panel starts enabled.
                const auto on = panel.enabled.find(kRadioPairs[i].onId);
                const auto off = panel.enabled.find(kRadioPairs[i].offId);
                EXPECT_EQ(on == panel.enabled.end() || on->second, wanted[i])
                    << row.os.name << " pair " << i;
                EXPECT_EQ(off == panel.enabled.end() || off->second, wanted[i])
                    << row.os.name << " pair " << i;
            }
        }
    }
}

TEST(RadioPairs, ValuesShowAsOnOrOff) {
    struct Row {
        SettingId setting;
        std::int32_t value;
        bool on;
    };
    const Row rows[] = {
        {AutoDefrag, 1, true},   {AutoDefrag, 0, false}, {AutoDefrag, 2, false},
        {AutoDefrag, -1, false}, {Index, 2, true},       {Index, 3, true},
        {Index, 4, false},       {Index, -1, false},     {Index, 0, false},
        {SuperFetch, 0, false},  {SuperFetch, 3, true},  {SuperFetch, 1, true},
        {SuperFetch, -1, true},  {PreFetch, 0, false},   {PreFetch, 3, true},
        {PreFetch, 2, true},     {Trim, 0, true},        {Trim, 1, false},
        {Trim, -1, false},
    };
    for (const Row& row : rows) {
        const RadioPair& pair =
            *std::find_if(std::begin(kRadioPairs), std::end(kRadioPairs),
                          [&](const RadioPair& p) { return p.setting == row.setting; });
        SettingValues values = row.on ? kAllOffValues : kAllOnValues; // the others disagree
        values[row.setting] = row.value;
        FakePanel panel;
        ShowSettings(panel, values, kWin7.isVistaOr7, kWin7.isWin7);
        EXPECT_EQ(panel.checks.at(pair.onId), row.on) << row.setting << " = " << row.value;
        EXPECT_EQ(panel.checks.at(pair.offId), !row.on) << row.setting << " = " << row.value;
    }
}

TEST(RadioPairs, ShowSettingsSetsOnRadioFirstThenOffAndEnablesAfterEachPair) {
    FakePanel panel;
    ShowSettings(panel, kAllOnValues, kXp.isVistaOr7, kXp.isWin7);
    const std::vector<std::string> expected = {
        "+1000", "-1001", "+1002", "-1003",                   // always enabled
        "+1004", "-1005", "D1004", "D1005", "-1004", "+1005", // forced OFF before NT 6
        "+1006", "-1007", "E1006", "E1007", "+1010", "-1011", "D1010", "D1011"};
    EXPECT_EQ(panel.log, expected);
}

TEST(RadioPairs, OnXpSuperFetchIsForcedOffWhateverTheValue) {
    for (const std::int32_t value : {0, 3}) {
        SettingValues values = kAllOnValues;
        values[SuperFetch] = value;
        values[Trim] = 1;
        FakePanel panel;
        ShowSettings(panel, values, kXp.isVistaOr7, kXp.isWin7);
        EXPECT_TRUE(panel.Off(1004, 1005)) << value;
        EXPECT_FALSE(panel.enabled.at(1004));
        EXPECT_TRUE(panel.Off(1010, 1011)) << "TRIM 1 shows OFF";
        EXPECT_FALSE(panel.enabled.at(1010));
    }
}

TEST(RadioPairs, DisabledPairsStillShowTheirValues) {
    // On NT 6 the Prefetch pair is disabled; on Vista TRIM is too. Both keep their check state.
    for (const Os& os : {kVista, kWin7}) {
        FakePanel panel;
        ShowSettings(panel, kAllOnValues, os.isVistaOr7, os.isWin7);
        EXPECT_TRUE(panel.On(1006, 1007)) << os.name;
        EXPECT_TRUE(panel.On(1010, 1011)) << os.name;
    }
}

TEST(RadioPairs, AllOffSetsEveryPairOffInOrderWithoutTouchingEnabledStates) {
    for (const Os& os : {kXp, kVista, kWin7}) {
        FakePanel panel;
        ShowSettings(panel, kAllOnValues, os.isVistaOr7, os.isWin7);
        const auto enabledBefore = panel.enabled;
        panel.log.clear();
        SetAllOff(panel);
        const std::vector<std::string> expected = {"-1000", "+1001", "-1002", "+1003", "-1004",
                                                   "+1005", "-1006", "+1007", "-1010", "+1011"};
        EXPECT_EQ(panel.log, expected) << os.name;
        EXPECT_EQ(panel.enabled, enabledBefore) << os.name;
    }
}

TEST(RadioPairs, RestoreAfterAllOffBringsBackTheInitialStatesOnWindows7) {
    const SettingValues initial{1, 3, 3, 3, 2, 0};
    const SettingValues current{0, 4, 0, 0, 4, 1};
    FakePanel panel;
    ShowSettings(panel, current, kWin7.isVistaOr7, kWin7.isWin7);
    SetAllOff(panel);
    ShowSettings(panel, initial, kWin7.isVistaOr7, kWin7.isWin7); // the Restore button
    for (const RadioPair& pair : kRadioPairs) {
        EXPECT_TRUE(panel.On(pair.onId, pair.offId)) << pair.onId;
    }
    EXPECT_FALSE(panel.enabled.at(1006)) << "Prefetch stays disabled on NT 6";
}

TEST(RadioPairs, SuperFetchClicksDragPrefetchAlongOnNt6Only) {
    struct Row {
        Os os;
        bool follows;
    };
    for (const Row& row : {Row{kXp, false}, Row{kVista, true}, Row{kWin7, true}}) {
        for (const bool superFetchOn : {true, false}) {
            FakePanel panel;
            ShowSettings(panel, superFetchOn ? kAllOffValues : kAllOnValues, row.os.isVistaOr7,
                         row.os.isWin7);
            const bool prefetchBefore = panel.checks.at(1006);
            panel.log.clear();
            FollowSuperFetch(panel, superFetchOn, row.os.isVistaOr7);
            if (row.follows) {
                EXPECT_EQ(panel.log, (std::vector<std::string>{superFetchOn ? "+1006" : "-1006",
                                                               superFetchOn ? "-1007" : "+1007"}))
                    << row.os.name;
            } else {
                EXPECT_TRUE(panel.log.empty()) << row.os.name;
                EXPECT_EQ(panel.checks.at(1006), prefetchBefore);
            }
        }
    }
}

TEST(RadioPairs, OnVistaAllOffThenSuperFetchOnLeavesSuperFetchAndPrefetchOn) {
    FakePanel panel;
    ShowSettings(panel, kAllOnValues, kVista.isVistaOr7, kVista.isWin7);
    SetAllOff(panel);
    panel.Click(1004, 1005);
    FollowSuperFetch(panel, true, kVista.isVistaOr7);
    EXPECT_TRUE(panel.Off(1000, 1001));
    EXPECT_TRUE(panel.Off(1002, 1003));
    EXPECT_TRUE(panel.On(1004, 1005));
    EXPECT_TRUE(panel.On(1006, 1007));
    EXPECT_TRUE(panel.Off(1010, 1011));
}

TEST(RadioPairs, SelectionReadsTheOnRadiosAtEachCallDisabledOnesIncluded) {
    FakePanel panel;
    ShowSettings(panel, kAllOffValues, kXp.isVistaOr7, kXp.isWin7);
    const RadioSelection selection(panel);
    EXPECT_FALSE(selection.AutoDefragOn());
    EXPECT_FALSE(selection.TrimOn());

    // Later changes show through the same object; TRIM and SuperFetch are disabled on XP.
    panel.Click(1000, 1001);
    panel.Click(1004, 1005);
    panel.Click(1010, 1011);
    panel.reads.clear();
    EXPECT_TRUE(selection.AutoDefragOn());
    EXPECT_FALSE(selection.IndexOn());
    EXPECT_TRUE(selection.SuperFetchOn());
    EXPECT_FALSE(selection.PreFetchOn());
    EXPECT_TRUE(selection.TrimOn());
    EXPECT_EQ(panel.reads, (std::vector<int>{1000, 1002, 1004, 1006, 1010}))
        << "only the ON radios are read";
}

TEST(RadioPairs, SelectionIsFalseWhenNeitherRadioOfAPairIsChecked) {
    FakePanel panel;
    for (const RadioPair& pair : kRadioPairs) {
        panel.checks[pair.onId] = false;
        panel.checks[pair.offId] = false;
    }
    const RadioSelection selection(panel);
    EXPECT_FALSE(selection.AutoDefragOn() || selection.IndexOn() || selection.SuperFetchOn() ||
                 selection.PreFetchOn() || selection.TrimOn());
}

} // namespace
