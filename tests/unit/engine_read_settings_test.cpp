#include "engine_fixture.h"

#include <vector>

namespace {

using Values = std::array<std::int32_t, kSettingCount>;

Values ReadOn(Generation generation) {
    SetGeneration(generation);
    SettingsEngine engine;
    engine.DetectOsVersion();
    EXPECT_EQ(engine.ReadCurrentSettings(), TRUE);
    return engine.m_nCurrent;
}

// Order: AutoDefrag, Index, SuperFetch, PreFetch, SysMain, Trim.
TEST_F(EngineTest, AbsentValuesTakeTheFallbacksOfEachGeneration) {
    EXPECT_EQ(ReadOn(Generation::Xp), (Values{1, 2, 0, 3, -1, 1}));
    EXPECT_EQ(ReadOn(Generation::Vista), (Values{0, 2, 3, 3, 2, 1}));
    EXPECT_EQ(ReadOn(Generation::Win7), (Values{0, 2, 3, 3, 2, 1}));
}

TEST_F(EngineTest, StoredValuesAreReadFromTheKeysOfEachGeneration) {
    machine().SetDwordValue(kHklmOptimalLayout, L"EnableAutoLayout", 5);
    machine().SetDwordValue(kHklmWSearch, L"Start", 4);
    machine().SetDwordValue(kHklmCisvc, L"Start", 3);
    machine().SetDwordValue(kHklmPrefetch, L"EnableSuperfetch", 0);
    machine().SetDwordValue(kHklmPrefetch, L"EnablePrefetcher", 2);
    machine().SetDwordValue(kHklmSysMain, L"Start", 4);
    machine().SetDwordValue(kHklmFileSystem, L"DisableDeleteNotification", 0);

    EXPECT_EQ(ReadOn(Generation::Xp), (Values{5, 3, 0, 2, -1, 1}));
    EXPECT_EQ(ReadOn(Generation::Vista), (Values{5, 4, 0, 2, 4, 1}));
    EXPECT_EQ(ReadOn(Generation::Win7), (Values{5, 4, 0, 2, 4, 0}));
}

TEST_F(EngineTest, ValuesThatAreNotFourByteDwordsCountAsAbsent) {
    machine().SetStringValue(kHklmWSearch, L"Start", L"4");
    machine().SetValue(kHklmSysMain, L"Start", REG_DWORD, {4, 0, 0, 0, 0, 0, 0, 0});
    machine().SetValue(kHklmPrefetch, L"EnablePrefetcher", REG_BINARY, {0, 0, 0, 0});
    machine().SetDwordValue(kHklmPrefetch, L"EnableSuperfetch", 0xFFFFFFFFu);
    machine().SetValue(kHklmOptimalLayout, L"EnableAutoLayout", REG_QWORD,
                       {1, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(ReadOn(Generation::Win7), (Values{0, 2, 3, 3, 2, 1}));
}

TEST_F(EngineTest, KeysThatCannotBeOpenedTakeTheFallback) {
    machine().SetDwordValue(kHklmWSearch, L"Start", 4);
    machine().SetDwordValue(kHklmFileSystem, L"DisableDeleteNotification", 0);
    machine().InjectFault("RegOpenKeyExW", ERROR_ACCESS_DENIED);
    EXPECT_EQ(ReadOn(Generation::Win7), (Values{0, 2, 3, 3, 2, 1}));
    EXPECT_EQ(machine().OpenKeyCount(), 0);
}

TEST_F(EngineTest, FailedQueryClosesTheKeyAndTakesTheFallback) {
    machine().SetDwordValue(kHklmWSearch, L"Start", 4);
    // The OptimalLayout key is absent, so the first query is the one of the Index setting.
    machine().InjectFault("RegQueryValueExW", ERROR_ACCESS_DENIED, 1);
    EXPECT_EQ(ReadOn(Generation::Win7)[Index], 2);
    EXPECT_EQ(machine().OpenKeyCount(), 0);
}

std::vector<std::wstring> OpenedKeys() {
    std::vector<std::wstring> keys;
    for (const sim::CallRecord& call : sim::TheMachine().CallsTo("RegOpenKeyExW")) {
        EXPECT_EQ(call.detail, KEY_QUERY_VALUE) << "every read opens its key for querying only";
        keys.push_back(call.target);
    }
    return keys;
}

TEST_F(EngineTest, ReadsInTableOrderOpeningOnlyTheKeysOfTheGeneration) {
    machine().SetDwordValue(kHklmPrefetch, L"EnablePrefetcher", 3);
    ReadOn(Generation::Win7);
    EXPECT_EQ(OpenedKeys(),
              (std::vector<std::wstring>{kHklmOptimalLayout, kHklmWSearch, kHklmPrefetch,
                                         kHklmSysMain, kHklmPrefetch, kHklmFileSystem}));
    EXPECT_EQ(machine().OpenKeyCount(), 0);

    machine().calls.clear();
    ReadOn(Generation::Vista);
    EXPECT_EQ(OpenedKeys(),
              (std::vector<std::wstring>{kHklmOptimalLayout, kHklmWSearch, kHklmPrefetch,
                                         kHklmSysMain, kHklmPrefetch}));

    machine().calls.clear();
    ReadOn(Generation::Xp);
    EXPECT_EQ(OpenedKeys(),
              (std::vector<std::wstring>{kHklmOptimalLayout, kHklmCisvc, kHklmPrefetch}));
}

TEST_F(EngineTest, EachKeyIsClosedBeforeTheNextIsOpened) {
    machine().SetDwordValue(kHklmOptimalLayout, L"EnableAutoLayout", 1);
    machine().SetDwordValue(kHklmWSearch, L"Start", 2);
    machine().SetDwordValue(kHklmPrefetch, L"EnablePrefetcher", 3);
    machine().SetDwordValue(kHklmSysMain, L"Start", 2);
    machine().SetDwordValue(kHklmFileSystem, L"DisableDeleteNotification", 0);
    ReadOn(Generation::Win7);
    int open = 0;
    for (const sim::CallRecord& call : machine().calls) {
        if (call.function == "RegOpenKeyExW") {
            EXPECT_EQ(open, 0) << "a key was still open when the next one was opened";
            ++open;
        } else if (call.function == "RegCloseKey") {
            --open;
        }
    }
    EXPECT_EQ(open, 0);
}

} // namespace
