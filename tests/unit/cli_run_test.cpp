// The console program run on the simulated machine: what it writes, what it prints, its exit
// codes, its snapshot of the first settings, its log, and two runs at once.
#include "engine_fixture.h"

#include "captured_streams.h"
#include "cli/console_program.h"
#include "engine/machine_snapshot.h"

#include <string>

namespace {

const std::wstring kLayout = L"C:\\Windows\\Prefetch\\Layout.ini";
const std::wstring kSnapshotKey = L"HKLM\\SOFTWARE\\Quillmarsh";

struct Ran {
    int exit = -1;
    std::string out;
    std::wstring err;
};

class CliRunTest : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        // A Windows 7 PC as it comes: everything on, TRIM on, the layout file writable.
        machine().SetDwordValue(kHklmOptimalLayout, L"EnableAutoLayout", 1);
        machine().SetStringValue(kHklmOptimalLayout, L"LayoutFilePath", kLayout);
        machine().SetDwordValue(kHklmWSearch, L"Start", 2);
        machine().SetDwordValue(kHklmCisvc, L"Start", 3);
        machine().SetDwordValue(kHklmSysMain, L"Start", 2);
        machine().SetDwordValue(kHklmPrefetch, L"EnableSuperfetch", 3);
        machine().SetDwordValue(kHklmPrefetch, L"EnablePrefetcher", 3);
        machine().SetDwordValue(kHklmFileSystem, L"DisableDeleteNotification", 0);
        machine().PutFile(kLayout, "layout");
        machine().SetModulePath(L"C:\\Deploy\\QuillmarshCli.exe");
        machine().SetCurrentDirectory(L"C:\\Deploy");
    }

    static Ran Run(const std::wstring& arguments) {
        CapturedStreams streams;
        Ran ran;
        ran.exit = RunConsoleProgram(L"QuillmarshCli.exe " + arguments, streams);
        ran.out = streams.out;
        ran.err = streams.err;
        // No window or box ever, whatever happened.
        EXPECT_TRUE(machine().messageBoxes.empty()) << arguments.size();
        EXPECT_TRUE(machine().exitRequests.empty()) << "never restarts";
        EXPECT_EQ(machine().openProcessCount, 0) << "no child left running";
        EXPECT_EQ(machine().openThreadCount, 0);
        EXPECT_EQ(machine().OpenFileHandleCount(), 0);
        EXPECT_EQ(machine().OpenKeyCount(), 0);
        return ran;
    }

    static size_t Stores() { return machine().CallsTo("RegSetValueExW").size(); }
};

TEST_F(CliRunTest, OnlyNamedPairsAreWrittenAndASecondRunWritesNothing) {
    const Ran first = Run(L"/AutoDefrag:off /Trim:off /quiet");
    EXPECT_EQ(first.out,
              "AutoDefrag=changed\r\nTrim=changed\r\nRestartNeeded=yes\r\nExitCode=3010\r\n");
    EXPECT_EQ(first.exit, 3010);
    EXPECT_EQ(machine().DwordValue(kHklmOptimalLayout, L"EnableAutoLayout"), 0u);
    EXPECT_EQ(machine().DwordValue(kHklmFileSystem, L"DisableDeleteNotification"), 1u);
    // Nothing else: the pairs not named are neither created nor rewritten.
    for (const sim::CallRecord& store : machine().CallsTo("RegCreateKeyExW")) {
        EXPECT_TRUE(store.target == kHklmOptimalLayout || store.target == kSnapshotKey)
            << store.target.size();
    }
    EXPECT_FALSE(machine().DwordValue(kHklmSysMain, L"Start") != 2u);
    EXPECT_EQ(machine().FileAttributes(kLayout), FILE_ATTRIBUTE_ARCHIVE) << "Prefetch not named";
    ASSERT_EQ(machine().launches.size(), 1u);
    // The tool's output goes nowhere near ours: no console, its standard handles on NUL, and no
    // other handle of ours inherited.
    const sim::LaunchRecord& tool = machine().launches[0];
    EXPECT_EQ(tool.applicationName, L"C:\\Windows\\system32\\fsutil.exe");
    EXPECT_EQ(tool.commandLine,
              L"\"C:\\Windows\\system32\\fsutil.exe\" behavior set DisableDeleteNotify 1");
    EXPECT_EQ(tool.creationFlags & (CREATE_NO_WINDOW | CREATE_NEW_CONSOLE), CREATE_NO_WINDOW);
    EXPECT_EQ(tool.stdInput + tool.stdOutput + tool.stdError, L"\\\\.\\NUL\\\\.\\NUL\\\\.\\NUL");
    EXPECT_TRUE(tool.otherInherited.empty());
    EXPECT_EQ(tool.show, SW_HIDE);

    machine().calls.clear();
    machine().launches.clear();
    const Ran second = Run(L"/AutoDefrag:off /Trim:off");
    EXPECT_EQ(second.out,
              "AutoDefrag=unchanged\r\nTrim=unchanged\r\nRestartNeeded=no\r\nExitCode=0\r\n");
    EXPECT_EQ(second.exit, 0);
    EXPECT_EQ(Stores(), 0u) << "nothing written the second time";
    EXPECT_TRUE(machine().launches.empty()) << "the TRIM tool is not started for a TRIM as asked";
}

TEST_F(CliRunTest, AValueThatCannotBeReadCountsAsNotAsAsked) {
    machine().SetValue(kHklmOptimalLayout, L"EnableAutoLayout", REG_BINARY, {0, 0, 0, 0});
    EXPECT_EQ(Run(L"/AutoDefrag:off").out,
              "AutoDefrag=changed\r\nRestartNeeded=yes\r\nExitCode=3010\r\n");
    EXPECT_EQ(machine().DwordValue(kHklmOptimalLayout, L"EnableAutoLayout"), 0u);
}

struct GenerationRow {
    Generation generation;
    std::wstring arguments;
    std::string out;
};

TEST_F(CliRunTest, UnavailableSettingsAndPrefetchThatFollowsSuperFetch) {
    const GenerationRow rows[] = {
        {Generation::Xp, L"/SuperFetch:off /Trim:off",
         "SuperFetch=unavailable\r\nTrim=unavailable\r\nRestartNeeded=no\r\nExitCode=0\r\n"},
        {Generation::Vista, L"/Trim:off /PreFetch:off",
         "PreFetch=follows-SuperFetch\r\nTrim=unavailable\r\nRestartNeeded=no\r\nExitCode=0\r\n"},
        // Prefetch follows SuperFetch, whatever PreFetch asked.
        {Generation::Win7, L"/PreFetch:on /SuperFetch:off",
         "SuperFetch=changed\r\nPreFetch=follows-SuperFetch\r\nRestartNeeded=yes\r\nExitCode="
         "3010\r\n"},
        // Carried along unnamed, it reports what happened to it.
        {Generation::Vista, L"/SuperFetch:off",
         "SuperFetch=changed\r\nPreFetch=changed\r\nRestartNeeded=yes\r\nExitCode=3010\r\n"},
        {Generation::Xp, L"/PreFetch:off",
         "PreFetch=changed\r\nRestartNeeded=yes\r\nExitCode=3010\r\n"},
    };
    for (const GenerationRow& row : rows) {
        SetUp();
        SetGeneration(row.generation);
        const Ran ran = Run(row.arguments);
        EXPECT_EQ(ran.out, row.out) << static_cast<int>(row.generation);
        const bool prefetchOff = row.out.find("=changed") != std::string::npos &&
                                 row.arguments.find(L"off") != std::wstring::npos &&
                                 row.out.find("PreFetch") != std::string::npos;
        EXPECT_EQ(machine().DwordValue(kHklmPrefetch, L"EnablePrefetcher"), prefetchOff ? 0u : 3u);
        EXPECT_EQ(machine().DwordValue(kHklmFileSystem, L"DisableDeleteNotification"), 0u);
        if (prefetchOff) {
            EXPECT_EQ(*machine().FileAttributes(kLayout) & FILE_ATTRIBUTE_READONLY,
                      FILE_ATTRIBUTE_READONLY);
            EXPECT_FALSE(machine().FileExists(L"C:\\Windows\\Prefetch\\Layout_back.ini"));
            for (const sim::CallRecord& create : machine().CallsTo("CreateFileW")) {
                EXPECT_EQ(create.target.rfind(L"C:\\Deploy", 0), std::wstring::npos)
                    << "no temporary copy in the current directory";
            }
        }
    }
}

TEST_F(CliRunTest, RestoreFromAnotherCopyInAnotherFolderAfterTheFirstIsGone) {
    // A stored 1 comes back as 3, what OK writes; SuperFetch OFF took Prefetch along.
    machine().SetDwordValue(kHklmPrefetch, L"EnableSuperfetch", 1);
    ASSERT_EQ(Run(L"/AutoDefrag:off /Index:off /SuperFetch:off").exit, 3010);
    EXPECT_EQ(machine().DwordValue(kHklmSysMain, L"Start"), 4u);
    // The deployment deletes its copy; another starts from a share, elsewhere.
    machine().SetModulePath(L"\\\\server\\share\\QuillmarshCli.exe");
    machine().SetCurrentDirectory(L"C:\\Windows\\Temp");
    const Ran restored = Run(L"/restore");
    EXPECT_EQ(restored.out, "AutoDefrag=changed\r\nIndex=changed\r\nSuperFetch=changed\r\n"
                            "PreFetch=changed\r\nTrim=unchanged\r\nRestartNeeded=yes\r\n"
                            "ExitCode=3010\r\n");
    EXPECT_EQ(machine().DwordValue(kHklmOptimalLayout, L"EnableAutoLayout"), 1u);
    EXPECT_EQ(machine().DwordValue(kHklmWSearch, L"Start"), 2u);
    EXPECT_EQ(machine().DwordValue(kHklmPrefetch, L"EnableSuperfetch"), 3u);
    EXPECT_EQ(machine().DwordValue(kHklmSysMain, L"Start"), 2u);
    machine().calls.clear();
    EXPECT_EQ(Run(L"/restore").exit, 0) << "a second /restore writes nothing";
    EXPECT_EQ(Stores(), 0u);
}

TEST_F(CliRunTest, RestoreWithoutASnapshotChangesNothingAndEndsWith2) {
    const Ran ran = Run(L"/restore");
    EXPECT_EQ(ran.exit, 2);
    EXPECT_EQ(ran.out.find("AutoDefrag=failed (2, reading the first settings)\r\n"), 0u);
    SettingValues kept{};
    EXPECT_EQ(ReadMachineSnapshot(kept), SnapshotState::Whole) << "the state found is kept";
}

TEST_F(CliRunTest, StatusByteForByte) {
    machine().SetDwordValue(kHklmWSearch, L"Start", 4);
    const std::string expected = "AutoDefrag=on\r\nIndex=off\r\nSuperFetch=on\r\nPreFetch=on\r\n"
                                 "Trim=on\r\nFirstSettings=none\r\nExitCode=0\r\n";
    machine().SetAdministrator(false, false); // needs no rights
    EXPECT_EQ(Run(L"/status").out, expected);
    EXPECT_EQ(Stores(), 0u) << "changes nothing, takes no snapshot";
    machine().SetAdministrator(true, true);
    Run(L"/Index:off");
    SetGeneration(Generation::Xp);
    EXPECT_EQ(Run(L"-STATUS").out, "AutoDefrag=on\r\nIndex=on\r\nSuperFetch=unavailable\r\n"
                                   "PreFetch=on\r\nTrim=unavailable\r\nFirstSettings=saved\r\n"
                                   "ExitCode=0\r\n");
}

struct ExitRow {
    const char* what;
    std::function<void()> prepare;
    std::wstring arguments;
    int exit;
};

TEST_F(CliRunTest, TheFirstExitCodeThatAppliesWins) {
    const ExitRow rows[] = {
        {"no elevation, snapshot refused too",
         [] {
             machine().SetAdministrator(false, true);
             machine().SetKeyRights(L"HKLM\\SOFTWARE", KEY_READ);
         },
         L"/Index:off", 740},
        {"XP, not in Administrators",
         [] {
             SetGeneration(Generation::Xp);
             machine().SetAdministrator(true, false);
         },
         L"/Index:off", 740},
        {"snapshot refused, a log refused too",
         [] {
             machine().SetKeyRights(L"HKLM\\SOFTWARE", KEY_READ);
             machine().SetDirectoryWritable(L"C:\\Deploy", false);
         },
         L"/Index:off /log:x.log", 2},
        {"a setting failed beside a change", [] { machine().SetKeyRights(kHklmWSearch, KEY_READ); },
         L"/Index:off /AutoDefrag:off", 1},
        {"the log refused after a change",
         [] { machine().SetDirectoryWritable(L"C:\\Deploy", false); }, L"/Index:off /log:x.log", 1},
        {"a change that needs a restart", [] {}, L"/Index:off", 3010},
        {"TRIM alone needs no restart", [] {}, L"/Trim:off", 0},
        {"XP, in Administrators",
         [] {
             SetGeneration(Generation::Xp);
             machine().SetAdministrator(false, true);
         },
         L"/AutoDefrag:on", 0},
    };
    for (const ExitRow& row : rows) {
        SetUp();
        row.prepare();
        const Ran ran = Run(row.arguments);
        EXPECT_EQ(ran.exit, row.exit) << row.what;
        EXPECT_NE(ran.out.find("\r\nExitCode=" + std::to_string(row.exit) + "\r\n"),
                  std::string::npos)
            << row.what;
        if (row.exit == 740 || row.exit == 2) {
            EXPECT_EQ(machine().DwordValue(kHklmWSearch, L"Start"), 2u) << "nothing changed";
            EXPECT_FALSE(ran.err.empty()) << row.what;
        }
    }
}

TEST_F(CliRunTest, FailuresNameTheStepAndTheRunGoesOn) {
    // The tool never ends: it is ended after 60 s and TRIM fails; a file error of the
    // layout-file step fails Prefetch without a box.
    machine().SetProgramRunTime(sim::Machine::kForever);
    machine().fsutilStoresValue = false;
    machine().InjectFault("ReadFile", ERROR_ACCESS_DENIED, 1); // a lock would be waited out
    SetGeneration(Generation::Xp);
    const Ran xp = Run(L"/PreFetch:off /Index:off");
    EXPECT_EQ(xp.out, "Index=changed\r\nPreFetch=failed (5, changing the layout file)\r\n"
                      "RestartNeeded=yes\r\nExitCode=1\r\n");
    EXPECT_EQ(machine().DwordValue(kHklmPrefetch, L"EnablePrefetcher"), 0u) << "the run goes on";
    SetUp();
    machine().SetProgramRunTime(sim::Machine::kForever);
    machine().fsutilStoresValue = false;
    const Ran win7 = Run(L"/Trim:off");
    EXPECT_EQ(win7.out,
              "Trim=failed (1460, waiting for fsutil.exe)\r\nRestartNeeded=no\r\nExitCode=1\r\n");
    EXPECT_EQ(machine().terminatedPrograms, 1);
    SetUp();
    machine().PutFile(L"C:\\Windows\\system32\\fsutil.exe", "");
    machine().InjectFault("CreateProcessW", ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(Run(L"/Trim:off").out.substr(0, 41), "Trim=failed (2, starting fsutil.exe)\r\nRes");
}

TEST_F(CliRunTest, TheLogIsAppendedAsUtf8AndALinkIsRefused) {
    machine().PutFile(L"C:\\Deploy\\run.log", "before\r\n");
    const Ran ran = Run(L"/Index:off /log:run.log");
    EXPECT_EQ(ran.exit, 3010);
    const std::string expected = "before\r\nRun=2009-10-14T13:20:00 QuillmarshCli.exe /Index:off "
                                 "/log:run.log\r\n" +
                                 ran.out;
    EXPECT_EQ(machine().FileContent(L"C:\\Deploy\\run.log"), expected);

    for (const bool hard : {false, true}) {
        SetUp();
        machine().PutFile(L"C:\\Windows\\win.ini", "system");
        if (hard) {
            machine().AddHardLink(L"C:\\Windows\\win.ini", L"C:\\Deploy\\run.log");
        } else {
            machine().AddSymbolicLink(L"C:\\Deploy\\run.log", L"C:\\Windows\\win.ini");
        }
        const Ran linked = Run(L"/Index:off /log:run.log");
        EXPECT_EQ(linked.exit, 1) << hard;
        EXPECT_EQ(machine().DwordValue(kHklmWSearch, L"Start"), 4u) << "the run itself is done";
        EXPECT_EQ(machine().FileContent(L"C:\\Windows\\win.ini"), "system") << hard;
        EXPECT_TRUE(machine().FileExists(L"C:\\Deploy\\run.log")) << "not ours to remove";
        EXPECT_NE(linked.err.find(L"run.log"), std::wstring::npos);
    }
}

// What a later run reads of the snapshot: none, or the state the first run found.
void ExpectNoneOrWhole(const char* how, int call) {
    SettingValues values{};
    const SnapshotState state = ReadMachineSnapshot(values);
    ASSERT_NE(state, SnapshotState::Damaged) << how << " before call " << call;
    if (state == SnapshotState::Whole) {
        EXPECT_EQ(values[AutoDefrag], 1) << how << " before call " << call;
        EXPECT_EQ(values[Index], 2);
        EXPECT_EQ(values[Trim], 0);
    }
}

TEST_F(CliRunTest, ASnapshotCutShortAtAnyCallIsNeverReadAsOne) {
    Run(L"/AutoDefrag:off /Index:off");
    const int calls = machine().PlatformCallCount();
    for (int call = 1; call <= calls; ++call) {
        for (const auto ending :
             {sim::Machine::Ending::ProcessEnds, sim::Machine::Ending::PowerCut}) {
            SetUp();
            machine().EndBeforeCall(call, ending);
            Run(L"/AutoDefrag:off /Index:off");
            ASSERT_TRUE(machine().LeaveEnded());
            ExpectNoneOrWhole("ended", call);
            // The next run finishes the work.
            EXPECT_EQ(Run(L"/AutoDefrag:off /Index:off").exit == 1, false) << call;
            ExpectNoneOrWhole("next run", call);
            SettingValues values{};
            EXPECT_EQ(ReadMachineSnapshot(values), SnapshotState::Whole) << call;
        }
    }
}

TEST_F(CliRunTest, TwoRunsAtOnceNeverMixTheSnapshot) {
    Run(L"/AutoDefrag:off");
    const std::vector<sim::CallRecord> calls = machine().calls;
    // Up to the end of the snapshot step: the mark's flush.
    size_t end = 0;
    for (size_t i = 0; i < calls.size(); ++i) {
        end = calls[i].function == "RegFlushKey" && calls[i].target == kSnapshotKey ? i : end;
    }
    std::map<std::string, int> occurrence;
    for (size_t i = 0; i <= end; ++i) {
        const std::string& function = calls[i].function;
        const int nth = ++occurrence[function];
        SetUp();
        Ran other;
        machine().InjectAction(function, nth, [&other] {
            machine().RunAsOtherProcess([&other] {
                CapturedStreams streams;
                other.exit = RunConsoleProgram(L"QuillmarshCli.exe /Index:off", streams);
                other.out = streams.out;
            });
        });
        const Ran first = Run(L"/AutoDefrag:off");
        SCOPED_TRACE(function + " #" + std::to_string(nth));
        ExpectNoneOrWhole("two runs", static_cast<int>(i));
        SettingValues values{};
        EXPECT_EQ(ReadMachineSnapshot(values), SnapshotState::Whole);
        EXPECT_EQ(first.exit, 3010);
        // The other run either went first, whole, or waited and changed nothing.
        if (other.exit == 3010) {
            EXPECT_EQ(machine().DwordValue(kHklmWSearch, L"Start"), 4u);
        } else {
            EXPECT_EQ(other.exit, 1);
            EXPECT_EQ(other.out, "Index=failed (1460, waiting for another run)\r\n"
                                 "RestartNeeded=no\r\nExitCode=1\r\n");
            EXPECT_EQ(machine().DwordValue(kHklmWSearch, L"Start"), 2u);
        }
    }
}

} // namespace
