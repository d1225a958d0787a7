// Fails every platform call of a full start-up and OK flow in turn, on each Windows generation,
// with each error that call really returns, and checks what must hold whatever fails: the
// layout file's content survives, no handle stays open, the registry writes that the fault did
// not hit still happen, and every message box shown is one of the program's own. Then lets
// another program hold the file of every call for a moment: the outcome is the clean run's.
#include "engine_fixture.h"

#include "cli/console_program.h"
#include "fw/file.h"
#include "ui/ok_flow.h"

#include <algorithm>
#include <functional>
#include <map>
#include <set>

namespace {

const std::wstring kLayout = L"C:\\Windows\\Prefetch\\Layout.ini";
const std::wstring kCopy = L"C:\\Program Files\\Quillmarsh\\Layout_back.ini";
const std::wstring kProfile = L"C:\\Program Files\\Quillmarsh\\Quillmarsh.ini";
const std::wstring kTemporary = L"C:\\Program Files\\Quillmarsh\\Quillmarsh.tmp";
const std::string kContent = std::string(600, 'x') + "layout";

// What each call can fail with on Windows. A call missing here fails the test, so a new call
// of the product gets its errors listed. Closing and flushing failures change nothing but are
// swept too, to show they leave nothing open.
const std::map<std::string, std::vector<DWORD>> kErrors = {
    {"GetVersionExW", {ERROR_INVALID_PARAMETER}},
    {"RegOpenKeyExW", {ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED}},
    {"RegQueryValueExW", {ERROR_MORE_DATA, ERROR_FILE_NOT_FOUND}},
    {"RegCloseKey", {ERROR_INVALID_HANDLE}},
    {"RegCreateKeyExW", {ERROR_ACCESS_DENIED}},
    {"RegSetValueExW", {ERROR_ACCESS_DENIED}},
    {"RegFlushKey", {ERROR_ACCESS_DENIED}},
    {"GetModuleFileNameW", {ERROR_INSUFFICIENT_BUFFER}},
    {"GetFileAttributesW", {ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED}},
    {"GetPrivateProfileStringW", {ERROR_SHARING_VIOLATION, ERROR_ACCESS_DENIED}},
    {"WritePrivateProfileStringW", {ERROR_ACCESS_DENIED, ERROR_DISK_FULL}},
    {"CreateFileW", {ERROR_SHARING_VIOLATION, ERROR_ACCESS_DENIED, ERROR_DISK_FULL}},
    {"GetFileInformationByHandle", {ERROR_ACCESS_DENIED}},
    {"ReadFile", {ERROR_LOCK_VIOLATION}},
    {"WriteFile", {ERROR_DISK_FULL}},
    {"CloseHandle", {ERROR_INVALID_HANDLE}},
    {"DeleteFileW", {ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION}},
    {"CopyFileW", {ERROR_DISK_FULL, ERROR_SHARING_VIOLATION}},
    {"FlushFileBuffers", {ERROR_DISK_FULL}},
    {"MoveFileExW", {ERROR_ALREADY_EXISTS, ERROR_ACCESS_DENIED}},
    {"GetFileAttributesExW", {ERROR_ACCESS_DENIED}},
    {"SetFileAttributesW", {ERROR_ACCESS_DENIED}},
    {"SetFileTime", {ERROR_ACCESS_DENIED}},
    {"GetSystemDirectoryW", {ERROR_INSUFFICIENT_BUFFER}},
    {"GetTempPathW", {ERROR_INSUFFICIENT_BUFFER}},
    {"GetWindowsDirectoryW", {ERROR_INSUFFICIENT_BUFFER}},
    {"GetEnvironmentVariableW", {ERROR_ENVVAR_NOT_FOUND}},
    {"GetLongPathNameW", {ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED}},
    {"GetModuleHandleW", {ERROR_MOD_NOT_FOUND}},
    {"GetProcAddress", {ERROR_PROC_NOT_FOUND}},
    {"LoadLibraryExW", {ERROR_MOD_NOT_FOUND, ERROR_ACCESS_DENIED}},
    {"SetEndOfFile", {ERROR_DISK_FULL}},
    {"ShellExecuteExW", {ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED}},
    {"CreateProcessW", {ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED, ERROR_NOT_ENOUGH_MEMORY}},
    {"WaitForSingleObject", {ERROR_INVALID_HANDLE}},
    {"MessageBoxW", {ERROR_NOT_ENOUGH_MEMORY}},
    {"OpenProcessToken", {ERROR_ACCESS_DENIED}},
    {"LookupPrivilegeValueW", {ERROR_NO_SUCH_PRIVILEGE}},
    {"AdjustTokenPrivileges", {ERROR_NOT_ALL_ASSIGNED, ERROR_ACCESS_DENIED}},
    {"ExitWindowsEx", {ERROR_PRIVILEGE_NOT_HELD, ERROR_SHUTDOWN_IN_PROGRESS}},
    {"GetCurrentProcess", {}}, // a pseudo handle: cannot fail
    {"Sleep", {}},
    {"GetTokenInformation", {ERROR_ACCESS_DENIED, ERROR_INVALID_PARAMETER}},
    {"AllocateAndInitializeSid", {ERROR_NOT_ENOUGH_MEMORY}},
    {"CheckTokenMembership", {ERROR_ACCESS_DENIED}},
    {"FreeSid", {}}, // returns nothing to fail with
    {"CreateMutexW", {ERROR_ACCESS_DENIED, ERROR_INVALID_HANDLE}},
    {"ReleaseMutex", {ERROR_NOT_OWNER}},
    {"TerminateProcess", {ERROR_ACCESS_DENIED}},
    {"GetLocalTime", {}}, // cannot fail
    {"LoadStringW", {}},  // the program's own string table is always there
};

// The calls through which the framework's file class can report an error; a failed copy back
// leaves no layout file whose status could be stored.
const std::set<std::string> kFileClassCalls = {
    "ReadFile",           "WriteFile",   "CopyFileW",   "CloseHandle",         "GetFileAttributesW",
    "SetFileAttributesW", "CreateFileW", "SetFileTime", "GetFileAttributesExW"};

struct Write {
    std::wstring key;
    std::wstring value;
    std::wstring feature; // as the message after OK names it
};

// The values ApplySettings writes on a generation, in their order.
std::vector<Write> WritesFor(bool nt6) {
    std::vector<Write> writes = {{kHklmOptimalLayout, L"EnableAutoLayout", kNameAutoDefrag},
                                 {nt6 ? kHklmWSearch : kHklmCisvc, L"Start", kNameIndex}};
    if (nt6) {
        writes.push_back({kHklmPrefetch, L"EnableSuperfetch", kNameSuperFetch});
        writes.push_back({kHklmSysMain, L"Start", kNameSuperFetch});
    }
    writes.push_back({kHklmPrefetch, L"EnablePrefetcher", kNamePreFetch});
    return writes;
}

struct Scenario {
    const char* what;
    Generation generation;
    bool firstRun; // no profile yet; otherwise one whose service start types are 3
    bool allOn;    // the selection: everything ON, or everything OFF
    DWORD layoutAttributes;
};

void PrintTo(const Scenario& scenario, std::ostream* os) {
    *os << scenario.what;
}

// Registry values before the run, all different from what the run writes, so that a skipped
// write shows.
DWORD Before(const Scenario& s) {
    return s.allOn ? 0u : 1u;
}
DWORD StartBefore(const Scenario& s) {
    return s.allOn ? 4u : 2u;
}

void PrepareMachine(const Scenario& s) {
    sim::Machine& m = sim::TheMachine();
    SetGeneration(s.generation);
    m.SetDwordValue(kHklmOptimalLayout, L"EnableAutoLayout", Before(s));
    m.SetStringValue(kHklmOptimalLayout, L"LayoutFilePath", kLayout);
    m.SetDwordValue(kHklmWSearch, L"Start", StartBefore(s));
    m.SetDwordValue(kHklmCisvc, L"Start", StartBefore(s));
    m.SetDwordValue(kHklmSysMain, L"Start", StartBefore(s));
    m.SetDwordValue(kHklmPrefetch, L"EnableSuperfetch", s.allOn ? 0u : 3u);
    m.SetDwordValue(kHklmPrefetch, L"EnablePrefetcher", s.allOn ? 0u : 3u);
    m.SetDwordValue(kHklmFileSystem, L"DisableDeleteNotification", 0);
    m.PutFile(kLayout, kContent, s.layoutAttributes);
    if (!s.firstRun) {
        m.PutFile(kProfile, "[AutoDefrag]\r\nDefValue=1\r\n[Index]\r\nDefValue=3\r\n"
                            "[SuperFetch]\r\nDefValue=3\r\n[SysMain]\r\nDefValue=3\r\n"
                            "[PreFetch]\r\nDefValue=3\r\n[Trim]\r\nDefValue=0\r\n");
    }
    // Yes to the question about a missing snapshot, when it comes, and Yes to the restart.
    m.messageBoxAnswers = {IDYES, IDYES};
}

DWORD BeforeValue(const Scenario& s, const Write& w) {
    if (w.value == L"Start") {
        return StartBefore(s);
    }
    return w.value == L"EnableAutoLayout" ? Before(s) : (s.allOn ? 0u : 3u);
}

class CountingCloser : public DialogCloser {
public:
    void CloseWithOk() override { ++closed; }
    int closed = 0;
};

struct RunResult {
    SettingsEngine engine;
    size_t startupCalls = 0;
    bool snapshotAtOk = false;
    bool fileError = false;
    int closed = 0;
};

// Start-up as the dialog runs it, then OK; a file error is reported as the framework does.
RunResult StartAndPressOk(const Scenario& s) {
    PrepareMachine(s);
    RunResult run;
    run.engine.DetectOsVersion();
    run.engine.ReadCurrentSettings();
    run.engine.LoadInitialSettings();
    run.startupCalls = sim::TheMachine().calls.size();
    run.snapshotAtOk = sim::TheMachine().FileExists(kProfile);
    FixedSelection selection = s.allOn ? FixedSelection::AllOn() : FixedSelection{};
    CountingCloser closer;
    try {
        RunOkFlow(run.engine, selection, closer);
    } catch (const CFileException& error) {
        run.fileError = true;
        error.ReportError();
    }
    run.closed = closer.closed;
    return run;
}

// What a user could tell apart after a run: the values written, the files, the messages, the tool
// and the restart.
std::wstring Outcome(bool nt6) {
    sim::Machine& m = sim::TheMachine();
    std::wstring text;
    for (const Write& w : WritesFor(nt6)) {
        text += w.value + L"=" + std::to_wstring(m.DwordValue(w.key, w.value).value_or(~0u)) + L" ";
    }
    for (const std::wstring& file : {kProfile, kLayout, kCopy, kTemporary}) {
        const auto content = m.FileContent(file);
        text += L"\n" + file + L": " + std::to_wstring(m.FileAttributes(file).value_or(0)) + L" " +
                std::to_wstring(content ? std::hash<std::string>()(*content) : 0);
    }
    for (const sim::MessageBoxRecord& box : m.messageBoxes) {
        text += L"\nbox: " + box.text;
    }
    return text + L"\nlaunches " + std::to_wstring(m.launches.size()) + L", restarts " +
           std::to_wstring(m.exitRequests.size());
}

class FaultSweepTest : public EngineTest, public ::testing::WithParamInterface<Scenario> {};

// The longest one step waited on the simulated clock, in ms: the pauses of a run in which only the
// step's call (its function on its file) and the look at that file's attributes come between them.
DWORD LongestStepWaitMs() {
    DWORD longest = 0;
    DWORD current = 0;
    const sim::CallRecord* step = nullptr;
    for (const sim::CallRecord& c : sim::TheMachine().calls) {
        if (c.function == "Sleep") {
            current += c.detail;
            longest = std::max(longest, current);
        } else if (c.function != "GetFileAttributesW") {
            if (!step || c.function != step->function || c.target != step->target) {
                current = 0;
            }
            step = &c;
        }
    }
    return longest;
}

TEST_P(FaultSweepTest, EveryFailingCallKeepsContentWritesAndMessagesInBounds) {
    const Scenario& s = GetParam();
    const RunResult clean = StartAndPressOk(s);
    const std::vector<sim::CallRecord> cleanCalls = machine().calls;
    ASSERT_FALSE(clean.fileError);
    ASSERT_TRUE(clean.snapshotAtOk);
    ASSERT_EQ(machine().exitRequests.size(), 1u) << "the clean run restarts";
    EXPECT_TRUE(machine().CallsTo("Sleep").empty()) << "nothing held, nothing waited for";
    // OK first looks for the snapshot: the module path, then the profile's attributes.
    ASSERT_EQ(cleanCalls.at(clean.startupCalls).function, "GetModuleFileNameW");
    ASSERT_EQ(cleanCalls.at(clean.startupCalls + 1).target, kProfile);
    // OK's last look at a file checks the layout file's read-only bit.
    size_t bitCheck = 0;
    for (size_t i = 0; i < cleanCalls.size(); ++i) {
        bitCheck = cleanCalls[i].function == "GetFileAttributesW" ? i : bitCheck;
    }
    const std::wstring cleanOutcome = Outcome(clean.engine.IsVistaOr7());
    std::map<std::wstring, DWORD> cleanValues;
    for (const Write& w : WritesFor(clean.engine.IsVistaOr7())) {
        cleanValues[w.key + L"|" + w.value] = machine().DwordValue(w.key, w.value).value_or(~0u);
    }

    std::map<std::string, int> occurrence;
    int runs = 0;
    for (size_t i = 0; i < cleanCalls.size(); ++i) {
        const std::string& function = cleanCalls[i].function;
        const int nth = ++occurrence[function];
        const auto errors = kErrors.find(function);
        ASSERT_NE(errors, kErrors.end()) << "no errors listed for " << function;
        for (const DWORD error : errors->second) {
            SCOPED_TRACE(function + " #" + std::to_string(nth) + " error " + std::to_string(error));
            ++runs;
            SetUp();
            machine().InjectFault(function, error, nth);
            const RunResult run = StartAndPressOk(s);
            const bool inApply = i >= clean.startupCalls;
            const auto hit = [&](const char* name) { return function == name; };
            // Without the snapshot (or without finding it) OK asks first, and only Yes goes on.
            const bool snapshotCheckHit = inApply && i < clean.startupCalls + 2;
            const bool asked = !run.snapshotAtOk || snapshotCheckHit;
            if (asked && hit("MessageBoxW") && nth == 1) {
                EXPECT_EQ(run.closed, 0) << "no answer is no Yes: the dialog stays open";
                EXPECT_TRUE(machine().messageBoxes.empty());
                EXPECT_EQ(machine().CallsTo("RegSetValueExW").size(), 0u) << "nothing written";
                EXPECT_TRUE(machine().launches.empty());
                continue;
            }
            const size_t questions = asked ? 1u : 0u;
            // Only another program's handle or lock gives these: the step waits it out. The
            // profile functions share read and write themselves and are not waited on.
            if ((error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) &&
                function.find("Profile") == std::string::npos) {
                EXPECT_EQ(Outcome(run.engine.IsVistaOr7()), cleanOutcome);
                continue;
            }

            // Nothing lost, nothing left open.
            const bool layoutKept = machine().FileContent(kLayout) == kContent;
            const bool copyKept = machine().FileContent(kCopy) == kContent;
            EXPECT_TRUE(layoutKept || copyKept) << "the layout file's content was lost";
            EXPECT_EQ(machine().OpenKeyCount(), 0);
            EXPECT_EQ(machine().OpenFileHandleCount(), 0);
            EXPECT_EQ(machine().openProcessCount, 0);

            // Registry writes: each one the fault did not hit happens, even after a failed one;
            // a file error stops before EnablePrefetcher; nothing else is written.
            const std::vector<Write> writes = WritesFor(run.engine.IsVistaOr7());
            for (size_t k = 0; k < writes.size(); ++k) {
                const Write& w = writes[k];
                SCOPED_TRACE(w.value);
                const int ordinal = static_cast<int>(k) + 1;
                const bool writeHit =
                    (hit("RegCreateKeyExW") || hit("RegSetValueExW")) && nth == ordinal;
                const bool cutOff = run.fileError && k + 1 == writes.size();
                const std::optional<DWORD> now = machine().DwordValue(w.key, w.value);
                if (writeHit || cutOff) {
                    EXPECT_EQ(now, BeforeValue(s, w));
                } else if (inApply) {
                    EXPECT_EQ(now, cleanValues[w.key + L"|" + w.value]);
                } else {
                    // A start-up fault may change the initial values; the write still happens.
                    EXPECT_NE(now, BeforeValue(s, w));
                }
            }
            const size_t stores =
                writes.size() - (run.fileError ? 1u : 0u) - (hit("RegCreateKeyExW") ? 1u : 0u);
            EXPECT_EQ(machine().CallsTo("RegSetValueExW").size(), stores) << "nothing else written";
            if (!run.engine.IsVistaOr7()) {
                EXPECT_EQ(machine().DwordValue(kHklmPrefetch, L"EnableSuperfetch"),
                          s.allOn ? 0u : 3u);
            }

            // The TRIM tool runs on Windows 7 unless its own launch failed (the shell's DLL or
            // its entry point included) or a file error ended the apply.
            const bool launchHit =
                hit("ShellExecuteExW") || hit("GetSystemDirectoryW") || hit("LoadLibraryExW") ||
                (hit("GetProcAddress") && cleanCalls[i].target == L"ShellExecuteExW");
            const bool launches = run.engine.m_bWin7 == 1 && !run.fileError && !launchHit;
            EXPECT_EQ(machine().launches.size(), launches ? 1u : 0u);

            // Messages: the framework's file-error box, or the question and then only restart
            // failures; always captioned with the program's name.
            const auto& boxes = machine().messageBoxes;
            for (const sim::MessageBoxRecord& box : boxes) {
                EXPECT_EQ(box.caption, L"Quillmarsh");
            }
            if (run.fileError) {
                EXPECT_EQ(kFileClassCalls.count(function), 1u) << "unexpected file error";
                EXPECT_TRUE(inApply);
                EXPECT_EQ(run.closed, 0) << "the dialog stays open";
                EXPECT_TRUE(machine().CallsTo("ExitWindowsEx").empty());
                ASSERT_EQ(boxes.size(), questions + (hit("MessageBoxW") ? 0u : 1u));
                if (asked) {
                    EXPECT_EQ(boxes[0].text, kNoSnapshotText);
                }
                if (boxes.size() > questions) {
                    const sim::MessageBoxRecord& box = boxes[questions];
                    EXPECT_EQ(box.type, static_cast<UINT>(MB_OK | MB_ICONEXCLAMATION));
                    const bool namesFile = box.text.find(kLayout) != std::wstring::npos ||
                                           box.text.find(L"Layout_back.ini") != std::wstring::npos;
                    EXPECT_TRUE(namesFile) << "the file-error box names the file";
                }
                continue;
            }
            EXPECT_EQ(run.closed, 1) << "the dialog closes after the question";

            // What could not be changed is named before the question: a refused registry
            // write, a layout file left with the wrong read-only bit, a TRIM tool that did not
            // start or end with 0. Checking the bit may itself fail and count as not changed.
            std::vector<std::wstring> notChanged;
            for (size_t k = 0; k < writes.size(); ++k) {
                if ((hit("RegCreateKeyExW") || hit("RegSetValueExW")) &&
                    nth == static_cast<int>(k) + 1) {
                    notChanged.push_back(writes[k].feature);
                }
            }
            const auto layoutAttributes = machine().FileAttributes(kLayout);
            const bool layoutWrong =
                layoutAttributes.has_value() &&
                ((*layoutAttributes & FILE_ATTRIBUTE_READONLY) != 0) == s.allOn;
            const bool checkFailed = i == bitCheck && error != ERROR_FILE_NOT_FOUND;
            // Without the path from the registry there is no file to protect; without the
            // TRIM value read back, TRIM cannot be confirmed.
            const bool readHit = inApply && (hit("RegOpenKeyExW") || hit("RegQueryValueExW"));
            const bool trimReadLost = readHit && cleanCalls[i].target == kHklmFileSystem;
            const bool pathLost = readHit && !trimReadLost &&
                                  (error == ERROR_FILE_NOT_FOUND || error == ERROR_MORE_DATA);
            if ((layoutWrong && !pathLost) || checkFailed) {
                notChanged.push_back(kNamePreFetch);
            }
            if (run.engine.m_bWin7 == 1 &&
                (launchHit || hit("WaitForSingleObject") || trimReadLost)) {
                notChanged.push_back(kNameTrim);
            }
            std::vector<std::wstring> expected;
            if (asked) {
                expected.push_back(kNoSnapshotText);
            }
            if (!notChanged.empty()) {
                expected.push_back(NotChangedMessage(notChanged));
            }
            expected.push_back(kRestartPromptText);
            const size_t question = expected.size(); // the question's MessageBoxW call
            const bool questionLost = hit("MessageBoxW") && nth == static_cast<int>(question);
            if (hit("MessageBoxW") && nth <= static_cast<int>(question)) {
                expected.erase(expected.begin() + (nth - 1));
            }
            EXPECT_EQ(machine().CallsTo("ExitWindowsEx").size(), questionLost ? 0u : 1u)
                << "Yes always reaches the restart request";
            ASSERT_GE(boxes.size(), expected.size());
            for (size_t b = 0; b < expected.size(); ++b) {
                EXPECT_EQ(boxes[b].text, expected[b]);
                const UINT type = expected[b] == kRestartPromptText ? 0x44u
                                  : expected[b] == kNoSnapshotText
                                      ? kNoSnapshotType
                                      : static_cast<UINT>(MB_OK | MB_ICONEXCLAMATION);
                EXPECT_EQ(boxes[b].type, type);
            }
            size_t failures = 0;
            for (size_t b = expected.size(); b < boxes.size(); ++b) {
                EXPECT_EQ(boxes[b].text, kRestartFailedText);
                EXPECT_EQ(boxes[b].type, static_cast<UINT>(MB_OK | MB_ICONEXCLAMATION));
                ++failures;
            }
            // Without the privilege enabled the restart request fails as well.
            const bool privilegeLost = hit("OpenProcessToken") || hit("AdjustTokenPrivileges") ||
                                       hit("LookupPrivilegeValueW");
            const size_t failedSteps = privilegeLost ? 2u : hit("ExitWindowsEx") ? 1u : 0u;
            if (!hit("MessageBoxW")) {
                EXPECT_EQ(failures, failedSteps) << "one failure message per failed restart step";
            }
        }
    }
    RecordProperty("faulted_runs", runs);
    EXPECT_GT(runs, 80) << "the sweep covers the whole start-up and OK flow";
}

// Other programs hold the file of each call in turn (open, shared with deletes, mapped, locked),
// a leftover Quillmarsh.tmp (held, or deleted while held), or every file the program writes
// (the scanner), for a moment or for good. A moment is waited out at the step that meets it and
// changes nothing; a hold for good makes that step give up after the bound, and loses nothing.
TEST_P(FaultSweepTest, HoldsByOtherProgramsAreWaitedOutOrGivenUpWithinTheBound) {
    using Hold = sim::Machine::Hold;
    const Scenario& s = GetParam();
    const std::wstring clean = Outcome(StartAndPressOk(s).engine.IsVistaOr7());
    const std::vector<sim::CallRecord> cleanCalls = machine().calls;
    EXPECT_EQ(LongestStepWaitMs(), 0u) << "nothing held, nothing waited for";
    constexpr ULONGLONG kQuarterSecond = 2500000;
    struct Row {
        std::string what;
        std::function<void()> arrange;
        bool brief;
    };
    std::vector<Row> rows;
    for (const ULONGLONG ticks : {kQuarterSecond, sim::Machine::kForever}) {
        const bool brief = ticks == kQuarterSecond;
        const std::string how = brief ? " for a moment" : " for good";
        std::map<std::string, int> occurrence;
        for (const sim::CallRecord& call : cleanCalls) {
            const int nth = ++occurrence[call.function];
            if (call.target.rfind(L"C:\\", 0) != 0) {
                continue; // names no file
            }
            for (const Hold hold : {Hold::Scanner, Hold::Indexer, Hold::Map, Hold::Lock}) {
                const std::string function = call.function;
                rows.push_back({function + " #" + std::to_string(nth) + " held as " +
                                    std::to_string(static_cast<int>(hold)) + how,
                                [=] { machine().HoldBeforeCall(function, nth, ticks, hold); },
                                brief});
            }
        }
        if (s.firstRun) {
            for (const Hold hold : {Hold::Scanner, Hold::Indexer, Hold::Map, Hold::Delete}) {
                rows.push_back({"leftover Quillmarsh.tmp held as " +
                                    std::to_string(static_cast<int>(hold)) + how,
                                [=] {
                                    machine().PutFile(kTemporary, "[AutoDefrag]\r\n");
                                    machine().HoldFile(kTemporary, hold, ticks);
                                },
                                brief});
            }
        }
        rows.push_back({"scanner" + how, [=] { machine().scannerHold = ticks; }, brief});
    }
    int waited = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        SetUp();
        row.arrange();
        const RunResult run = StartAndPressOk(s);
        const auto& calls = machine().calls;
        EXPECT_EQ(machine().OpenFileHandleCount(), 0);
        EXPECT_LE(LongestStepWaitMs(), 2000u) << "up to about 1.6 s a step";
        waited += machine().CallsTo("Sleep").empty() ? 0 : 1;
        // Then the other programs close what they hold: names deleted meanwhile go.
        machine().scannerHold.reset();
        machine().EndOtherPrograms();
        if (row.brief) {
            EXPECT_EQ(Outcome(run.engine.IsVistaOr7()), clean);
            for (const size_t refused : machine().refusedByOtherPrograms) {
                const size_t next = refused + 1;
                const size_t pause =
                    next < calls.size() && calls[next].function == "GetFileAttributesW" ? next + 1
                                                                                        : next;
                ASSERT_LT(pause, calls.size());
                EXPECT_EQ(calls[pause].function, "Sleep")
                    << calls[refused].function << " waits out the hold it met";
            }
            continue;
        }
        // Nothing lost: a whole snapshot, or the question first; the layout file's content in
        // place, or in Layout_back.ini.
        const bool asked =
            !machine().messageBoxes.empty() && machine().messageBoxes[0].text == kNoSnapshotText;
        EXPECT_TRUE(machine().FileExists(kProfile) || asked);
        EXPECT_TRUE(machine().FileContent(kLayout) == kContent ||
                    machine().FileContent(kCopy) == kContent);
        // No temporary file that a later run cannot remove.
        SettingsEngine later;
        later.DetectOsVersion();
        later.ReadCurrentSettings();
        later.LoadInitialSettings();
        EXPECT_TRUE(machine().FileExists(kProfile));
        EXPECT_FALSE(machine().FileExists(kTemporary));
    }
    // The layout file's open and delete, the copy's delete and the scanner; the rename of a first
    // run's snapshot.
    EXPECT_GE(waited, s.firstRun ? 10 : 8) << "holds met the program's files";
}

class NoOutput : public ConsoleStreams {
public:
    void Out(const std::string& ascii) override { out += ascii; }
    void Err(const std::wstring&) override {}
    std::string out;
};

// Whether every setting the console run names reads back as asked: all OFF, TRIM OFF on 7.
bool ConsoleRunAsAsked(const Scenario& s) {
    sim::Machine& m = sim::TheMachine();
    const bool nt6 = s.generation != Generation::Xp;
    bool asked = m.DwordValue(kHklmOptimalLayout, L"EnableAutoLayout") == 0u &&
                 m.DwordValue(nt6 ? kHklmWSearch : kHklmCisvc, L"Start") == 4u &&
                 m.DwordValue(kHklmPrefetch, L"EnablePrefetcher") == 0u &&
                 (*m.FileAttributes(kLayout) & FILE_ATTRIBUTE_READONLY) != 0;
    if (nt6) {
        asked = asked && m.DwordValue(kHklmPrefetch, L"EnableSuperfetch") == 0u &&
                m.DwordValue(kHklmSysMain, L"Start") == 4u;
    }
    if (s.generation == Generation::Win7) {
        asked = asked && m.DwordValue(kHklmFileSystem, L"DisableDeleteNotification") == 1u;
    }
    return asked;
}

// The console program under every single fault: 0 or 3010 only when every named setting reads
// back as asked, else 1 or 2 naming what failed (740 when the rights check itself failed); never
// a box, nothing lost, nothing left open.
TEST_P(FaultSweepTest, TheConsoleRunEndsWithAnHonestExitCode) {
    const Scenario& s = GetParam();
    const std::wstring command =
        L"QuillmarshCli.exe /AutoDefrag:off /Index:off /SuperFetch:off /PreFetch:off /Trim:off";
    const auto run = [&] {
        PrepareMachine(s);
        sim::TheMachine().messageBoxAnswers.clear();
        NoOutput streams;
        const int exit = RunConsoleProgram(command, streams);
        return std::make_pair(exit, streams.out);
    };
    // A machine already all OFF (the read-only scenarios) needs only TRIM, which takes effect at
    // once; the rest are changed and need the restart.
    ASSERT_EQ(run().first, s.allOn ? 0 : 3010);
    ASSERT_TRUE(ConsoleRunAsAsked(s));
    const std::vector<sim::CallRecord> cleanCalls = machine().calls;
    const std::set<std::string> rightsCheck = {"OpenProcessToken", "GetTokenInformation",
                                               "AllocateAndInitializeSid", "CheckTokenMembership"};
    std::map<std::string, int> occurrence;
    for (const sim::CallRecord& call : cleanCalls) {
        const int nth = ++occurrence[call.function];
        const auto errors = kErrors.find(call.function);
        ASSERT_NE(errors, kErrors.end()) << "no errors listed for " << call.function;
        for (const DWORD error : errors->second) {
            SCOPED_TRACE(call.function + " #" + std::to_string(nth) + " error " +
                         std::to_string(error));
            SetUp();
            machine().InjectFault(call.function, error, nth);
            const auto [exit, out] = run();
            EXPECT_TRUE(machine().messageBoxes.empty()) << "no window, no box";
            EXPECT_TRUE(machine().FileContent(kLayout) == kContent ||
                        machine().FileContent(L"C:\\Windows\\Prefetch\\Layout_back.ini") ==
                            kContent)
                << "the layout file's content was lost";
            EXPECT_EQ(machine().OpenKeyCount(), 0);
            EXPECT_EQ(machine().OpenFileHandleCount(), 0);
            EXPECT_EQ(machine().openProcessCount, 0);
            EXPECT_EQ(machine().openThreadCount, 0);
            // A fault that says the layout file or its path is not there (or too long to use)
            // leaves the program nothing to protect, as it would on Windows.
            const bool layoutAbsent =
                (error == ERROR_FILE_NOT_FOUND || error == ERROR_MORE_DATA) &&
                ((call.function != "GetFileAttributesW" && call.target == kHklmOptimalLayout) ||
                 (call.function == "GetFileAttributesW" && call.target == kLayout));
            if (exit == 0 || exit == 3010) {
                EXPECT_TRUE(layoutAbsent || ConsoleRunAsAsked(s)) << out;
            } else if (exit == 740) {
                EXPECT_EQ(rightsCheck.count(call.function), 1u);
            } else {
                EXPECT_TRUE(exit == 1 || exit == 2) << exit;
                EXPECT_NE(out.find("=failed ("), std::string::npos) << out;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    AllGenerations, FaultSweepTest,
    ::testing::Values(
        Scenario{"XpFirstRunAllOff", Generation::Xp, true, false, FILE_ATTRIBUTE_ARCHIVE},
        Scenario{"XpProfileAllOnReadOnly", Generation::Xp, false, true,
                 FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY},
        Scenario{"VistaFirstRunAllOff", Generation::Vista, true, false, FILE_ATTRIBUTE_ARCHIVE},
        Scenario{"VistaProfileAllOnReadOnly", Generation::Vista, false, true,
                 FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY},
        Scenario{"Win7FirstRunAllOff", Generation::Win7, true, false, FILE_ATTRIBUTE_ARCHIVE},
        Scenario{"Win7ProfileAllOnReadOnly", Generation::Win7, false, true,
                 FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY}),
    [](const ::testing::TestParamInfo<Scenario>& p) { return std::string(p.param.what); });

} // namespace
