#include "engine_fixture.h"

#include "fw/file.h"
#include "fw/system_library.h"

#include <functional>
#include <optional>
#include <vector>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int);

// The framework's part of the process, which has no host build: the entry point hands over to
// it once the process is made safe.
int AfxWinMain(HINSTANCE) {
    return 0;
}

namespace {

const std::wstring kSystemFsutil = L"C:\\Windows\\system32\\fsutil.exe";

struct Written {
    std::optional<DWORD> autoLayout, indexStart, cisvcStart, superfetch, sysMainStart, prefetcher;
};

Written Apply(Generation generation, const Selection& selection, std::int32_t initialIndex = 0,
              std::int32_t initialSysMain = 0, FailedSettings* failed = nullptr) {
    SetGeneration(generation);
    SettingsEngine engine;
    engine.DetectOsVersion();
    engine.m_nInitial[Index] = initialIndex;
    engine.m_nInitial[SysMain] = initialSysMain;
    CFile layout;
    CFile copy;
    const FailedSettings notChanged = engine.ApplySettings(selection, layout, copy);
    if (failed != nullptr) {
        *failed = notChanged;
    }
    sim::Machine& m = sim::TheMachine();
    return {m.DwordValue(kHklmOptimalLayout, L"EnableAutoLayout"),
            m.DwordValue(kHklmWSearch, L"Start"),
            m.DwordValue(kHklmCisvc, L"Start"),
            m.DwordValue(kHklmPrefetch, L"EnableSuperfetch"),
            m.DwordValue(kHklmSysMain, L"Start"),
            m.DwordValue(kHklmPrefetch, L"EnablePrefetcher")};
}

TEST_F(EngineTest, AllOffWritesEveryValueOfTheGeneration) {
    const FixedSelection off;
    Written w = Apply(Generation::Win7, off);
    EXPECT_EQ(w.autoLayout, 0u);
    EXPECT_EQ(w.indexStart, 4u);
    EXPECT_EQ(w.cisvcStart, std::nullopt);
    EXPECT_EQ(w.superfetch, 0u);
    EXPECT_EQ(w.sysMainStart, 4u);
    EXPECT_EQ(w.prefetcher, 0u);
    for (const sim::CallRecord& call : machine().CallsTo("RegCreateKeyExW")) {
        EXPECT_NE(call.target, kHklmFileSystem) << "TRIM is left to the system tool";
    }
    EXPECT_EQ(machine().DwordValue(kHklmFileSystem, L"DisableDeleteNotification"), 1u);

    machine().Reset();
    w = Apply(Generation::Xp, off);
    EXPECT_EQ(w.autoLayout, 0u);
    EXPECT_EQ(w.cisvcStart, 4u);
    EXPECT_EQ(w.prefetcher, 0u);
    EXPECT_EQ(w.indexStart, std::nullopt);
    EXPECT_EQ(w.superfetch, std::nullopt);
    EXPECT_EQ(w.sysMainStart, std::nullopt);
    EXPECT_FALSE(machine().HasKey(kHklmSysMain));
}

TEST_F(EngineTest, AllOnWritesTheOnValues) {
    const Written w = Apply(Generation::Vista, FixedSelection::AllOn());
    EXPECT_EQ(w.autoLayout, 1u);
    EXPECT_EQ(w.superfetch, 3u);
    EXPECT_EQ(w.prefetcher, 3u);
}

struct StartTypeCase {
    Generation generation;
    bool on;
    std::int32_t initial;
    DWORD indexStart;
    DWORD sysMainStart; // NT 6 only
};

void PrintTo(const StartTypeCase& c, std::ostream* os) {
    *os << "generation " << static_cast<int>(c.generation) << (c.on ? " on" : " off") << " initial "
        << c.initial;
}

class StartTypeTest : public EngineTest, public ::testing::WithParamInterface<StartTypeCase> {};

TEST_P(StartTypeTest, RestoresTheFirstRunsStartTypeWhenSwitchedOn) {
    const StartTypeCase& c = GetParam();
    FixedSelection selection;
    selection.index = c.on;
    selection.superFetch = c.on;
    const Written w = Apply(c.generation, selection, c.initial, c.initial);
    if (c.generation == Generation::Xp) {
        EXPECT_EQ(w.cisvcStart, c.indexStart);
        EXPECT_EQ(w.sysMainStart, std::nullopt);
    } else {
        EXPECT_EQ(w.indexStart, c.indexStart);
        EXPECT_EQ(w.sysMainStart, c.sysMainStart);
    }
}

INSTANTIATE_TEST_SUITE_P(Services, StartTypeTest,
                         ::testing::Values(StartTypeCase{Generation::Win7, true, 3, 3, 3},
                                           StartTypeCase{Generation::Win7, true, 2, 2, 2},
                                           StartTypeCase{Generation::Win7, true, 4, 2, 2},
                                           StartTypeCase{Generation::Win7, true, -1, 2, 2},
                                           StartTypeCase{Generation::Win7, true, 1, 2, 2},
                                           StartTypeCase{Generation::Vista, true, 3, 3, 3},
                                           StartTypeCase{Generation::Vista, true, 4, 2, 2},
                                           StartTypeCase{Generation::Xp, true, 3, 3, 0},
                                           StartTypeCase{Generation::Xp, true, 2, 2, 0},
                                           StartTypeCase{Generation::Xp, true, 4, 3, 0},
                                           StartTypeCase{Generation::Xp, true, -1, 3, 0},
                                           StartTypeCase{Generation::Win7, false, 3, 4, 4},
                                           StartTypeCase{Generation::Xp, false, 2, 4, 0}));

TEST_F(EngineTest, TrimToolRunsHiddenFromTheSystemFolderOnWindows7Only) {
    FixedSelection selection;
    selection.trim = true;
    Apply(Generation::Win7, selection);
    selection.trim = false;
    Apply(Generation::Win7, selection);
    ASSERT_EQ(machine().launches.size(), 2u);
    EXPECT_EQ(machine().launches[0].parameters, L"behavior set DisableDeleteNotify 0");
    EXPECT_EQ(machine().launches[1].parameters, L"behavior set DisableDeleteNotify 1");
    for (const sim::LaunchRecord& launch : machine().launches) {
        EXPECT_EQ(launch.file, kSystemFsutil);
        EXPECT_EQ(launch.show, SW_HIDE);
        // Without SEE_MASK_NO_CONSOLE: the tool gets a console of its own, not the caller's.
        EXPECT_EQ(launch.mask, SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI);
        EXPECT_TRUE(launch.verb.empty());
        EXPECT_TRUE(launch.directory.empty());
        EXPECT_FALSE(launch.hwndGiven);
    }
    EXPECT_EQ(machine().waitCount, 2) << "each run is waited for";
    EXPECT_EQ(machine().openProcessCount, 0) << "each process handle is closed";

    machine().launches.clear();
    Apply(Generation::Vista, selection);
    Apply(Generation::Xp, selection);
    EXPECT_TRUE(machine().launches.empty());
}

TEST_F(EngineTest, PlantedToolBesideTheProgramOrInTheCurrentFolderIsNotRun) {
    machine().PutFile(L"C:\\Program Files\\Quillmarsh\\fsutil.exe", "planted");
    machine().AddDirectory(L"C:\\Users\\me\\Downloads");
    machine().PutFile(L"C:\\Users\\me\\Downloads\\fsutil.exe", "planted");
    machine().SetCurrentDirectory(L"C:\\Users\\me\\Downloads");
    Apply(Generation::Win7, FixedSelection());
    ASSERT_EQ(machine().launches.size(), 1u);
    EXPECT_EQ(machine().launches[0].file, kSystemFsutil);
}

TEST_F(EngineTest, EntryPointKeepsPlantedDllsOutOfTheShellAndItsHelpers) {
    const std::wstring app = L"C:\\Program Files\\Quillmarsh";
    const std::wstring downloads = L"C:\\Users\\me\\Downloads";
    for (const bool update : {true, false}) {
        SCOPED_TRACE(update ? "with the loader update" : "without it");
        machine().Reset();
        machine().dllDirectoriesAvailable = update;
        for (const std::wstring& folder : {app, downloads}) {
            machine().PutFile(folder + L"\\shell32.dll", "planted");
            machine().PutFile(folder + L"\\shcore.dll", "planted"); // the shell loads it by name
        }
        machine().SetCurrentDirectory(downloads);
        wWinMain(nullptr, nullptr, nullptr, 0);
        EXPECT_EQ(machine().CallsTo("SetDefaultDllDirectories").size(), update ? 1u : 0u);
        EXPECT_EQ(machine().CallsTo("SetDllDirectoryW").size(), update ? 0u : 1u);

        Apply(Generation::Win7, FixedSelection());
        EXPECT_EQ(machine().launches.size(), 1u);
        auto loads = machine().CallsTo(update ? "LoadLibraryExW" : "LoadLibraryW");
        ASSERT_EQ(loads.size(), 1u);
        EXPECT_EQ(loads[0].target, L"C:\\Windows\\system32\\shell32.dll");
        // Without the update the program's own folder stays first for names the system's DLLs
        // load, so only the current folder leaves the search.
        std::vector<std::wstring> expected = {L"C:\\Windows\\system32\\shell32.dll",
                                              L"C:\\Windows\\system32\\shcore.dll"};
        if (!update) {
            expected[1] = app + L"\\shcore.dll";
        }
        EXPECT_EQ(machine().loadedLibraries, expected);
    }

    // Without the shell's DLL nothing is launched, and the rest still applies.
    machine().Reset();
    DeleteFileW(L"C:\\Windows\\system32\\shell32.dll");
    const Written w = Apply(Generation::Win7, FixedSelection());
    EXPECT_TRUE(machine().launches.empty());
    EXPECT_EQ(w.prefetcher, 0u);
}

TEST_F(EngineTest, ToolThatCannotStartIsNotWaitedFor) {
    machine().InjectFault("ShellExecuteExW", ERROR_FILE_NOT_FOUND);
    const Written w = Apply(Generation::Win7, FixedSelection());
    EXPECT_EQ(machine().waitCount, 0);
    EXPECT_EQ(w.prefetcher, 0u);
}

// The fault sweep fails each call in turn; these are the outcomes no single fault gives.
TEST_F(EngineTest, ReportsEachSettingThatCouldNotBeChanged) {
    const std::wstring layout = L"C:\\Windows\\Prefetch\\Layout.ini";
    struct Case {
        const char* what;
        Generation generation;
        std::function<void()> prepare;
        std::vector<SettingId> failed;
    };
    const Case cases[] = {
        {"all changed", Generation::Win7, [] {}, {}},
        // TRIM is judged by the value the tool stores, not by its undocumented exit code.
        {"tool stores the value, ends with 1",
         Generation::Win7,
         [] { machine().exitCode = 1; },
         {}},
        {"tool ends with 0, stores nothing",
         Generation::Win7,
         [] { machine().fsutilStoresValue = false; },
         {Trim}},
        {"keys allow only storing and reading values",
         Generation::Win7,
         [] {
             for (const std::wstring& key :
                  {kHklmOptimalLayout, kHklmWSearch, kHklmPrefetch, kHklmSysMain}) {
                 machine().SetKeyRights(key, KEY_SET_VALUE | KEY_QUERY_VALUE);
             }
         },
         {}},
        {"no tool on Vista", Generation::Vista, [] { machine().exitCode = 1; }, {}},
        {"every store refused",
         Generation::Xp,
         [] { machine().InjectFault("RegSetValueExW", ERROR_ACCESS_DENIED); },
         {AutoDefrag, Index, PreFetch}},
        {"layout held elsewhere",
         Generation::Xp,
         [&] {
             machine().PutFile(layout, "layout");
             machine().HoldOpenByOtherProcess(layout);
         },
         {PreFetch}},
        {"layout already read-only",
         Generation::Xp,
         [&] { machine().PutFile(layout, "layout", FILE_ATTRIBUTE_READONLY); },
         {}},
        {"no layout file at the path", Generation::Xp, [] {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        machine().SetStringValue(kHklmOptimalLayout, L"LayoutFilePath", layout);
        c.prepare();
        FailedSettings failed;
        Apply(c.generation, FixedSelection(), 0, 0, &failed);
        FailedSettings expected;
        for (const SettingId setting : c.failed) {
            expected.set(setting);
        }
        EXPECT_EQ(failed, expected);
    }
}

TEST_F(EngineTest, FlushOnlyAfterASuccessfulStoreAndLaterWritesStillHappen) {
    machine().InjectFault("RegSetValueExW", ERROR_ACCESS_DENIED, 1);
    machine().InjectFault("RegCreateKeyExW", ERROR_ACCESS_DENIED, 2);
    const Written w = Apply(Generation::Win7, FixedSelection::AllOn());
    EXPECT_EQ(w.autoLayout, std::nullopt);
    EXPECT_EQ(w.indexStart, std::nullopt);
    EXPECT_EQ(w.superfetch, 3u);
    EXPECT_EQ(w.sysMainStart, 2u);
    EXPECT_EQ(w.prefetcher, 3u);
    EXPECT_EQ(machine().FlushCount(kHklmOptimalLayout), 0);
    EXPECT_EQ(machine().FlushCount(kHklmSysMain), 1);
    EXPECT_EQ(machine().FlushCount(kHklmPrefetch), 2);
    EXPECT_EQ(machine().OpenKeyCount(), 0);
    for (const sim::CallRecord& call : machine().CallsTo("RegCreateKeyExW")) {
        EXPECT_EQ(call.detail, KEY_SET_VALUE | KEY_QUERY_VALUE);
    }
    EXPECT_EQ(machine().launches.size(), 1u);
}

TEST_F(EngineTest, UnchangedSelectionIsWrittenAgain) {
    Apply(Generation::Win7, FixedSelection());
    const auto firstWrites = machine().CallsTo("RegSetValueExW").size();
    Apply(Generation::Win7, FixedSelection());
    EXPECT_EQ(machine().CallsTo("RegSetValueExW").size(), 2 * firstWrites);
    EXPECT_EQ(firstWrites, 5u);
}

} // namespace
