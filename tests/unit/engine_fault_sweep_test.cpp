// Fails every platform call of a full Windows 7 apply in turn and checks that nothing is lost.
#include "engine_fixture.h"

#include "fw/file.h"

#include <map>
#include <set>

namespace {

const std::wstring kLayout = L"C:\\Windows\\Prefetch\\Layout.ini";
const std::wstring kCopy = L"C:\\Program Files\\Quillmarsh\\Layout_back.ini";
const std::string kContent = std::string(600, 'x') + "layout";

// The calls through which the framework's file class can report an error; a failed copy back
// leaves no layout file whose status could be stored.
const std::set<std::string> kFileClassCalls = {
    "ReadFile",           "WriteFile",   "CopyFileW",   "CloseHandle",         "GetFileAttributesW",
    "SetFileAttributesW", "CreateFileW", "SetFileTime", "GetFileAttributesExW"};

DWORD ErrorFor(const std::string& function) {
    if (function == "WriteFile") {
        return ERROR_DISK_FULL;
    }
    if (function == "CreateFileW" || function == "CopyFileW" || function == "DeleteFileW") {
        return ERROR_SHARING_VIOLATION;
    }
    if (function == "ShellExecuteExW" || function == "RegOpenKeyExW") {
        return ERROR_FILE_NOT_FOUND;
    }
    return ERROR_ACCESS_DENIED;
}

struct ApplyOutcome {
    bool fileError = false;
};

ApplyOutcome ApplyAllOff(bool prefetchOn, DWORD layoutAttributes) {
    sim::TheMachine().SetStringValue(kHklmOptimalLayout, L"LayoutFilePath", kLayout);
    sim::TheMachine().PutFile(kLayout, kContent, layoutAttributes);
    SettingsEngine engine;
    engine.m_bWin7 = 1;
    FixedSelection selection;
    selection.preFetch = prefetchOn;
    ApplyOutcome run;
    CFile layout;
    CFile copy;
    try {
        engine.ApplySettings(selection, layout, copy);
    } catch (const CFileException&) {
        run.fileError = true;
    }
    return run;
}

struct Scenario {
    const char* what;
    bool prefetchOn;
    DWORD attributes;
};

void PrintTo(const Scenario& scenario, std::ostream* os) {
    *os << scenario.what;
}

class FaultSweepTest : public EngineTest, public ::testing::WithParamInterface<Scenario> {};

TEST_P(FaultSweepTest, EveryFailingCallKeepsTheLayoutContentAndTheLaterSteps) {
    const Scenario& scenario = GetParam();
    ApplyAllOff(scenario.prefetchOn, scenario.attributes);
    const std::vector<sim::CallRecord> cleanRun = machine().calls;
    ASSERT_GT(cleanRun.size(), 20u);

    // The EnablePrefetcher write is the last key created; a fault from there on may hit it.
    size_t lastCreate = 0;
    for (size_t i = 0; i < cleanRun.size(); ++i) {
        if (cleanRun[i].function == "RegCreateKeyExW") {
            lastCreate = i;
        }
    }

    std::map<std::string, int> occurrence;
    for (size_t i = 0; i < cleanRun.size(); ++i) {
        const sim::CallRecord& call = cleanRun[i];
        const int nth = ++occurrence[call.function];
        SCOPED_TRACE(call.function + " #" + std::to_string(nth));
        SetUp();
        machine().InjectFault(call.function, ErrorFor(call.function), nth);
        const ApplyOutcome run = ApplyAllOff(scenario.prefetchOn, scenario.attributes);

        const bool layoutKept = machine().FileContent(kLayout) == kContent;
        const bool copyKept = machine().FileContent(kCopy) == kContent;
        EXPECT_TRUE(layoutKept || copyKept) << "the layout file's content was lost";
        EXPECT_EQ(machine().OpenKeyCount(), 0);
        EXPECT_EQ(machine().OpenFileHandleCount(), 0);
        EXPECT_EQ(machine().openProcessCount, 0);
        EXPECT_TRUE(machine().messageBoxes.empty()) << "applying never shows a message itself";

        if (run.fileError) {
            EXPECT_EQ(kFileClassCalls.count(call.function), 1u) << "unexpected file error";
            EXPECT_TRUE(machine().launches.empty()) << "a file error ends the apply";
            EXPECT_FALSE(machine().DwordValue(kHklmPrefetch, L"EnablePrefetcher").has_value());
            continue;
        }
        const bool prefetcherWriteHit = i >= lastCreate && (call.function == "RegCreateKeyExW" ||
                                                            call.function == "RegSetValueExW");
        if (!prefetcherWriteHit) {
            EXPECT_EQ(machine().DwordValue(kHklmPrefetch, L"EnablePrefetcher"),
                      scenario.prefetchOn ? 3u : 0u);
        }
        const bool launchHit =
            call.function == "ShellExecuteExW" || call.function == "GetSystemDirectoryW";
        EXPECT_EQ(machine().launches.size(), launchHit ? 0u : 1u);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Apply, FaultSweepTest,
    ::testing::Values(Scenario{"PrefetchOffWritable", false, FILE_ATTRIBUTE_ARCHIVE},
                      Scenario{"PrefetchOnReadOnly", true,
                               FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY}),
    [](const ::testing::TestParamInfo<Scenario>& p) { return std::string(p.param.what); });

} // namespace
