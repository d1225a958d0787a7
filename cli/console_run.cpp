#include "cli/console_run.h"

#include "engine/admin_rights.h"
#include "engine/machine_snapshot.h"
#include "engine/pair_rules.h"
#include "engine/run_lock.h"
#include "engine/settings_engine.h"
#include "fw/file.h"

#include <string>

namespace {

struct PairName {
    SettingId id;
    const char* name;
};
constexpr PairName kPairs[] = {{AutoDefrag, "AutoDefrag"},
                               {Index, "Index"},
                               {SuperFetch, "SuperFetch"},
                               {PreFetch, "PreFetch"},
                               {Trim, "Trim"}};

// The pairs as a command sets them, read by the engine like the dialog's radios.
class PairSelection final : public Selection {
public:
    explicit PairSelection(const PairStates& states) : m_states(states) {}
    bool AutoDefragOn() const override { return m_states[AutoDefrag]; }
    bool IndexOn() const override { return m_states[Index]; }
    bool SuperFetchOn() const override { return m_states[SuperFetch]; }
    bool PreFetchOn() const override { return m_states[PreFetch]; }
    bool TrimOn() const override { return m_states[Trim]; }

private:
    const PairStates& m_states;
};

// What the lines report for a pair before anything runs.
enum class Plan { NotReported, Apply, Unavailable, FollowsSuperFetch };

std::string Failed(DWORD error, const char* step) {
    return "failed (" + std::to_string(error) + ", " + step + ")";
}

class ConsoleRun {
public:
    explicit ConsoleRun(const Command& command) : m_command(command) {
        m_versionRead = m_engine.DetectOsVersion();
        m_versionError = m_versionRead ? NO_ERROR : GetLastError();
        m_nt6 = m_engine.IsVistaOr7();
        for (const PairName& pair : kPairs) {
            m_plan[pair.id] = PlanFor(pair.id);
        }
    }

    RunResult Run() {
        // Without the generation, nothing can be told apart: which keys, which pairs.
        if (!m_versionRead) {
            return FailAll(m_versionError, "reading the Windows version", exitcode::kFailed,
                           L"Windows のバージョンを読み取れなかったため、設定は変更していません。");
        }
        if (!HasAdministratorRights(m_nt6)) {
            return FailAll(exitcode::kNotAdministrator, "checking administrator rights",
                           exitcode::kNotAdministrator,
                           L"管理者として実行してください。設定は変更していません。");
        }
        RunLock lock;
        if (const DWORD error = lock.Acquire(kOtherRunTimeoutMs); error != NO_ERROR) {
            return FailAll(error, "waiting for another run", exitcode::kFailed,
                           L"このPCで別の実行が終わらないため、設定は変更していません。");
        }
        m_engine.ReadCurrentSettings();
        SettingValues snapshot{};
        const bool hadSnapshot = ReadMachineSnapshot(snapshot) == SnapshotState::Whole;
        snapshot = m_engine.m_nCurrent;
        if (const DWORD error = SaveMachineSnapshot(snapshot); error != NO_ERROR) {
            return FailAll(error, "saving the first settings", exitcode::kNoSnapshot,
                           L"最初の設定を保存できなかったため、設定は変更していません。");
        }
        if (m_command.form == Command::Form::Restore && !hadSnapshot) {
            return FailAll(ERROR_FILE_NOT_FOUND, "reading the first settings",
                           exitcode::kNoSnapshot,
                           L"このPCの最初の設定が保存されていなかったため、設定は変更していません。"
                           L"今の設定を最初の設定として保存しました。");
        }
        m_engine.m_nInitial = snapshot;
        return Apply();
    }

private:
    Plan PlanFor(SettingId pair) const {
        const bool restore = m_command.form == Command::Form::Restore;
        const bool carried = pair == PreFetch && m_command.settings[SuperFetch] &&
                             PairTakesClicks(SuperFetch, m_nt6, m_engine.m_bWin7 == 1);
        if (!restore && !m_command.settings[pair] && !carried) {
            return Plan::NotReported;
        }
        if (!PairAvailable(pair, m_nt6, m_engine.m_bWin7 == 1)) {
            return Plan::Unavailable;
        }
        if (!restore && pair == PreFetch && PrefetchFollowsSuperFetch(m_nt6)) {
            return carried ? Plan::Apply : Plan::FollowsSuperFetch;
        }
        return Plan::Apply;
    }

    // The state the dialog would show, then a click on each pair the command names; /restore
    // shows the first settings instead, as its button does.
    PairStates Selected(ApplyRequest& request) const {
        const bool restore = m_command.form == Command::Form::Restore;
        const SettingValues& shown = restore ? m_engine.m_nInitial : m_engine.m_nCurrent;
        PairStates states{};
        for (const PairName& pair : kPairs) {
            states[pair.id] = ShowsOn(pair.id, shown[pair.id]);
        }
        for (const PairName& pair : kPairs) {
            const auto& asked = m_command.settings[pair.id];
            if (!restore && asked && PairTakesClicks(pair.id, m_nt6, m_engine.m_bWin7 == 1)) {
                ClickPair(states, pair.id, *asked, m_nt6);
            }
            request.pairs.set(pair.id, m_plan[pair.id] == Plan::Apply);
        }
        return states;
    }

    RunResult Apply() {
        ApplyRequest request;
        request.onlyWhatDiffers = true;
        request.copyBesideLayoutFile = true;
        request.fileErrorFailsPrefetch = true;
        request.toolTimeout = kToolTimeoutMs;
        // The tool's own output never mixes into ours.
        request.toolStart = ToolStart::Silent;
        const PairStates states = Selected(request);
        const PairSelection selection(states);
        CFile layoutFile;
        CFile copyFile;
        const PairOutcomes outcomes = m_engine.ApplyPairs(selection, request, layoutFile, copyFile);

        RunResult result;
        bool failed = false;
        bool restart = false;
        for (const PairName& pair : kPairs) {
            const PairOutcome& outcome = outcomes[pair.id];
            // TRIM takes effect at once ("fsutil behavior": no restart needed); the rest at
            // the next start.
            restart = restart || (outcome.wrote && pair.id != Trim);
            failed = failed || outcome.Failed();
            std::string value;
            switch (m_plan[pair.id]) {
            case Plan::NotReported:
                continue;
            case Plan::Unavailable:
                value = "unavailable";
                break;
            case Plan::FollowsSuperFetch:
                value = "follows-SuperFetch";
                break;
            case Plan::Apply:
                // A PreFetch the command named went where SuperFetch took it, which need not be
                // where it asked; one carried along unnamed reports what happened to it.
                value = outcome.Failed() ? Failed(outcome.error, outcome.step)
                        : (pair.id == PreFetch && m_command.settings[PreFetch] &&
                           PrefetchFollowsSuperFetch(m_nt6))
                            ? "follows-SuperFetch"
                        : outcome.state == PairOutcome::State::Changed ? "changed"
                                                                       : "unchanged";
                break;
            }
            result.lines.push_back(std::string(pair.name) + "=" + value);
        }
        result.lines.push_back(std::string("RestartNeeded=") + (restart ? "yes" : "no"));
        result.exitCode = failed    ? exitcode::kFailed
                          : restart ? exitcode::kRestartNeeded
                                    : exitcode::kDone;
        if (failed) {
            result.message = L"変更できなかった設定があります。";
        }
        return result;
    }

    // Nothing was changed: every pair that would have been applied reports why.
    RunResult FailAll(DWORD error, const char* step, int exitCode, const std::wstring& message) {
        RunResult result;
        for (const PairName& pair : kPairs) {
            const Plan plan = m_plan[pair.id];
            if (plan == Plan::NotReported) {
                continue;
            }
            const std::string value = plan == Plan::Unavailable         ? "unavailable"
                                      : plan == Plan::FollowsSuperFetch ? "follows-SuperFetch"
                                                                        : Failed(error, step);
            result.lines.push_back(std::string(pair.name) + "=" + value);
        }
        result.lines.push_back("RestartNeeded=no");
        result.exitCode = exitCode;
        result.message = message;
        return result;
    }

    const Command& m_command;
    SettingsEngine m_engine;
    bool m_nt6 = false;
    bool m_versionRead = false;
    DWORD m_versionError = NO_ERROR;
    std::array<Plan, kSettingCount> m_plan{};
};

RunResult Status() {
    SettingsEngine engine;
    engine.DetectOsVersion();
    engine.ReadCurrentSettings();
    RunResult result;
    for (const PairName& pair : kPairs) {
        const char* value = !PairAvailable(pair.id, engine.IsVistaOr7(), engine.m_bWin7 == 1)
                                ? "unavailable"
                            : ShowsOn(pair.id, engine.m_nCurrent[pair.id]) ? "on"
                                                                           : "off";
        result.lines.push_back(std::string(pair.name) + "=" + value);
    }
    SettingValues snapshot{};
    const bool saved = ReadMachineSnapshot(snapshot) == SnapshotState::Whole;
    result.lines.push_back(std::string("FirstSettings=") + (saved ? "saved" : "none"));
    return result;
}

int Rank(int exitCode) {
    constexpr int kOrder[] = {exitcode::kBadCommandLine, exitcode::kNotAdministrator,
                              exitcode::kNoSnapshot,     exitcode::kFailed,
                              exitcode::kRestartNeeded,  exitcode::kDone};
    for (int rank = 0; rank < static_cast<int>(std::size(kOrder)); ++rank) {
        if (kOrder[rank] == exitCode) {
            return rank;
        }
    }
    return 0;
}

} // namespace

int MoreSeriousExit(int a, int b) {
    return Rank(a) <= Rank(b) ? a : b;
}

RunResult RunCommand(const Command& command) {
    if (command.form == Command::Form::Status) {
        return Status();
    }
    return ConsoleRun(command).Run();
}
