#include "engine_fixture.h"

#include "fw/file.h"
#include "fw/message_box.h"
#include "ui/ok_flow.h"

#include <algorithm>
#include <functional>

namespace {

// Records what had happened on the machine when the dialog was closed.
class RecordingCloser : public DialogCloser {
public:
    void CloseWithOk() override {
        ++closeCount;
        boxesAtClose = sim::TheMachine().messageBoxes.size();
        exitsAtClose = sim::TheMachine().exitRequests.size();
    }
    int closeCount = 0;
    size_t boxesAtClose = 0;
    size_t exitsAtClose = 0;
};

// Index in the call log of the first / last call of a function; -1 when absent.
long FirstCall(const std::string& function) {
    const auto& calls = sim::TheMachine().calls;
    const auto found = std::find_if(calls.begin(), calls.end(), [&](const sim::CallRecord& c) {
        return c.function == function;
    });
    return found == calls.end() ? -1 : static_cast<long>(found - calls.begin());
}
long LastCall(const std::string& function) {
    const auto& calls = sim::TheMachine().calls;
    const auto found = std::find_if(calls.rbegin(), calls.rend(), [&](const sim::CallRecord& c) {
        return c.function == function;
    });
    return found == calls.rend() ? -1 : static_cast<long>(calls.rend() - found - 1);
}

class OkFlowTest : public EngineTest {};

TEST_F(OkFlowTest, AppliesThenAsksThenRestartsOnlyOnYesAndClosesAfterEitherAnswer) {
    struct Row {
        int answer;
        size_t restarts;
    };
    for (const Row& row : {Row{IDYES, 1}, Row{IDNO, 0}}) {
        SetUp();
        const SettingsEngine engine = StartedEngine(Generation::Win7);
        machine().calls.clear();
        machine().messageBoxAnswers = {row.answer};
        RecordingCloser closer;
        RunOkFlow(engine, FixedSelection::AllOn(), closer);

        ASSERT_EQ(machine().messageBoxes.size(), 1u) << row.answer;
        EXPECT_EQ(machine().messageBoxes[0].text, kRestartPromptText);
        EXPECT_EQ(machine().messageBoxes[0].type, 0x44u);
        EXPECT_EQ(machine().messageBoxes[0].caption, L"Quillmarsh");
        EXPECT_EQ(machine().CallsTo("LoadStringW").at(0).detail, 102u);
        EXPECT_EQ(machine().DwordValue(kHklmPrefetch, L"EnablePrefetcher"), 3u);

        const long lastWrite = LastCall("RegSetValueExW");
        const long question = FirstCall("MessageBoxW");
        ASSERT_GE(lastWrite, 0);
        EXPECT_LT(lastWrite, question) << "every value is written before the question";
        EXPECT_LT(LastCall("ShellExecuteExW"), question) << "the TRIM tool runs before it too";
        EXPECT_EQ(machine().exitRequests.size(), row.restarts) << row.answer;
        if (row.restarts != 0) {
            EXPECT_LT(question, FirstCall("ExitWindowsEx"));
        }
        EXPECT_EQ(closer.closeCount, 1) << row.answer;
        EXPECT_EQ(closer.boxesAtClose, 1u);
        EXPECT_EQ(closer.exitsAtClose, row.restarts);
    }
}

// Without a snapshot OK asks first, and No writes and runs nothing: a scanner keeps every file
// the program writes, for good (the first run leaves a leftover), or the program runs from the
// folder Explorer extracted its zip into. Once the scanner is gone the next run takes the
// snapshot over the leftover.
TEST_F(OkFlowTest, WithoutASnapshotOkAsksFirstAndNoChangesNothing) {
    const std::wstring temporary = L"C:\\Program Files\\Quillmarsh\\Quillmarsh.tmp";
    const std::wstring profile = L"C:\\Program Files\\Quillmarsh\\Quillmarsh.ini";
    const std::wstring extracted =
        L"C:\\Users\\Admin\\AppData\\Local\\Temp\\Temp1_Quillmarsh-1.0.3-win-x64.zip";
    struct Cause {
        const char* what;
        std::function<void()> arrange;
    };
    const Cause causes[] = {
        {"scanner", [] { machine().scannerHold = sim::Machine::kForever; }},
        {"run from the zip",
         [&] {
             machine().AddDirectory(extracted);
             machine().SetModulePath(extracted + L"\\Quillmarsh.exe");
         }},
    };
    for (const Cause& cause : causes) {
        for (const int answer : {IDNO, IDYES}) {
            SCOPED_TRACE(cause.what);
            SetUp();
            cause.arrange();
            const SettingsEngine engine = StartedEngine(Generation::Win7);
            ASSERT_FALSE(machine().FileExists(SettingsEngine::GetProfilePath()));
            machine().calls.clear();
            machine().messageBoxAnswers = {answer, IDNO};
            RecordingCloser closer;
            RunOkFlow(engine, FixedSelection{}, closer);

            ASSERT_FALSE(machine().messageBoxes.empty());
            EXPECT_EQ(machine().messageBoxes[0].text, kNoSnapshotText);
            EXPECT_EQ(machine().messageBoxes[0].type, kNoSnapshotType);
            EXPECT_EQ(machine().messageBoxes[0].caption, L"Quillmarsh");
            const bool yes = answer == IDYES;
            EXPECT_EQ(machine().messageBoxes.size(), yes ? 2u : 1u) << "then the restart question";
            EXPECT_EQ(machine().CallsTo("RegSetValueExW").empty(), !yes);
            EXPECT_EQ(machine().launches.size(), yes ? 1u : 0u);
            EXPECT_EQ(closer.closeCount, yes ? 1 : 0) << "No leaves the dialog open";
        }
    }
    SetUp();
    machine().scannerHold = sim::Machine::kForever;
    StartedEngine(Generation::Win7);
    machine().HoldOpenByOtherProcess(temporary, false);
    machine().scannerHold.reset();
    StartedEngine(Generation::Win7);
    EXPECT_TRUE(machine().FileExists(profile));
    EXPECT_FALSE(machine().FileExists(temporary));
}

TEST_F(OkFlowTest, ClosesAfterTheRestartFailureMessage) {
    const SettingsEngine engine = StartedEngine(Generation::Vista);
    machine().exitSucceeds = false;
    machine().messageBoxAnswers = {IDYES};
    RecordingCloser closer;
    RunOkFlow(engine, FixedSelection{}, closer);

    ASSERT_EQ(machine().messageBoxes.size(), 2u);
    EXPECT_EQ(machine().messageBoxes[0].text, kRestartPromptText);
    EXPECT_EQ(machine().messageBoxes[1].text, kRestartFailedText);
    EXPECT_EQ(closer.closeCount, 1);
    EXPECT_EQ(closer.boxesAtClose, 2u);
}

TEST_F(OkFlowTest, ToolThatCannotStartIsNamedInOurOwnBoxAndEveryBoxBelongsToTheDialog) {
    DeleteFileW(L"C:\\Windows\\system32\\fsutil.exe");
    const SettingsEngine engine = StartedEngine(Generation::Win7);
    const HWND dialog = reinterpret_cast<HWND>(std::uintptr_t{0x1234});
    AfxSetMessageBoxOwner(dialog);
    RecordingCloser closer;
    RunOkFlow(engine, FixedSelection{}, closer);
    AfxSetMessageBoxOwner(nullptr);

    ASSERT_EQ(machine().messageBoxes.size(), 2u) << "no box but ours";
    EXPECT_EQ(machine().messageBoxes[0].text, NotChangedMessage({kNameTrim}));
    for (const sim::MessageBoxRecord& box : machine().messageBoxes) {
        EXPECT_EQ(box.owner, dialog) << "a box the dialog stays usable under";
    }
}

TEST_F(OkFlowTest, FileErrorOfTheLayoutStepStopsBeforeTheQuestion) {
    const std::wstring layout = L"C:\\Windows\\Prefetch\\Layout.ini";
    machine().PutFile(layout, "layout data");
    machine().SetStringValue(kHklmOptimalLayout, L"LayoutFilePath", layout);
    const SettingsEngine engine = StartedEngine(Generation::Win7);
    machine().InjectFault("ReadFile", ERROR_LOCK_VIOLATION);
    machine().messageBoxAnswers = {IDYES};
    RecordingCloser closer;

    EXPECT_THROW(RunOkFlow(engine, FixedSelection{}, closer), CFileException); // Prefetch OFF

    EXPECT_TRUE(machine().messageBoxes.empty());
    EXPECT_TRUE(machine().exitRequests.empty());
    EXPECT_EQ(closer.closeCount, 0) << "the dialog stays open";
    EXPECT_FALSE(machine().DwordValue(kHklmPrefetch, L"EnablePrefetcher").has_value());
    EXPECT_TRUE(machine().launches.empty());
    EXPECT_EQ(machine().OpenFileHandleCount(), 0)
        << "the handler's files are closed on the way out";
}

} // namespace
