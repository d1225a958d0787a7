// Shared set-up for engine tests: a fresh simulated machine per test, with the product's strings.
#pragma once

#include "engine/selection.h"
#include "engine/settings_engine.h"
#include "sim/machine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

inline const std::wstring kHklmOptimalLayout = std::wstring(L"HKLM\\") + regkey::kOptimalLayout;
inline const std::wstring kHklmWSearch = std::wstring(L"HKLM\\") + regkey::kWSearch;
inline const std::wstring kHklmCisvc = std::wstring(L"HKLM\\") + regkey::kCisvc;
inline const std::wstring kHklmSysMain = std::wstring(L"HKLM\\") + regkey::kSysMain;
inline const std::wstring kHklmPrefetch = std::wstring(L"HKLM\\") + regkey::kPrefetchParameters;
inline const std::wstring kHklmFileSystem = std::wstring(L"HKLM\\") + regkey::kFileSystem;

inline const std::wstring kRestartFailedText =
    L"コンピュータを再起動できませんでした。\n「スタート」メニューから手動で再起動してください。";
inline const std::wstring kRestartPromptText = L"設定を反映するためには、コンピュータの再起動が必要"
                                               L"です。\n今すぐコンピュータを再起動しますか？";

// OK's question when no snapshot of the first settings is beside the program, and its type:
// Yes and No, No the default.
inline const std::wstring kNoSnapshotText =
    L"最初の設定を保存できませんでした。\nこのまま変更すると、次回から「最初の設定に戻す」で今の"
    L"設定に戻せなくなります。\nQuillmarsh をローカルディスク上の専用のフォルダーに置いて起動すると"
    L"、保存できます。\n\nこのまま変更しますか？";
inline constexpr UINT kNoSnapshotType = MB_YESNO | MB_ICONEXCLAMATION | MB_DEFBUTTON2;

// The message after OK names each feature it could not change, in the dialog's order.
inline const std::wstring kNotChangedText = L"次の設定を変更できませんでした。";
inline const std::wstring kNameAutoDefrag = L"自動デフラグ";
inline const std::wstring kNameIndex = L"インデックスサービス";
inline const std::wstring kNameSuperFetch = L"スーパーフェッチ";
inline const std::wstring kNamePreFetch = L"プリフェッチ";
inline const std::wstring kNameTrim = L"Trim機能";

// Strings 130 to 135: the message's first line, then the names in the dialog's order.
inline const std::wstring kNotChangedStrings[] = {kNotChangedText, kNameAutoDefrag, kNameIndex,
                                                  kNameSuperFetch, kNamePreFetch,   kNameTrim};

// The text of that message for `features`; empty when every feature changed.
inline std::wstring NotChangedMessage(const std::vector<std::wstring>& features) {
    std::wstring text;
    for (size_t i = 1; i < std::size(kNotChangedStrings); ++i) {
        const std::wstring& name = kNotChangedStrings[i];
        if (std::find(features.begin(), features.end(), name) != features.end()) {
            text += L"\n" + name;
        }
    }
    return text.empty() ? text : kNotChangedText + text;
}

enum class Generation { Xp, Vista, Win7 };

inline void SetGeneration(Generation generation) {
    switch (generation) {
    case Generation::Xp:
        sim::TheMachine().SetVersion(5, 2);
        break;
    case Generation::Vista:
        sim::TheMachine().SetVersion(6, 0);
        break;
    case Generation::Win7:
        sim::TheMachine().SetVersion(6, 1);
        break;
    }
}

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        machine().Reset();
        machine().SetStringResource(102, kRestartPromptText);
        machine().SetStringResource(129, kRestartFailedText);
        for (UINT id = 130; id <= 135; ++id) {
            machine().SetStringResource(id, kNotChangedStrings[id - 130]);
        }
        machine().SetStringResource(136, kNoSnapshotText);
        machine().PutFile(L"C:\\Windows\\system32\\fsutil.exe", "the system's tool");
    }
    static sim::Machine& machine() { return sim::TheMachine(); }

    // An engine as the dialog has it after start-up on the given generation.
    static SettingsEngine StartedEngine(Generation generation) {
        SetGeneration(generation);
        SettingsEngine engine;
        engine.DetectOsVersion();
        engine.ReadCurrentSettings();
        engine.LoadInitialSettings();
        return engine;
    }
};

// A selection with fixed answers.
class FixedSelection : public Selection {
public:
    bool autoDefrag = false, index = false, superFetch = false, preFetch = false, trim = false;
    bool AutoDefragOn() const override { return autoDefrag; }
    bool IndexOn() const override { return index; }
    bool SuperFetchOn() const override { return superFetch; }
    bool PreFetchOn() const override { return preFetch; }
    bool TrimOn() const override { return trim; }

    static FixedSelection AllOn() {
        FixedSelection s;
        s.autoDefrag = s.index = s.superFetch = s.preFetch = s.trim = true;
        return s;
    }
};
