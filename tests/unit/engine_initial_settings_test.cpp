#include "engine_fixture.h"

#include <limits>
#include <optional>

namespace {

const std::wstring kAppFolder = L"C:\\Program Files\\Quillmarsh";
const std::wstring kProfile = kAppFolder + L"\\Quillmarsh.ini";
const std::wstring kTemporary = kAppFolder + L"\\Quillmarsh.tmp";
const char* const kSectionNames[] = {"AutoDefrag", "Index",    "SuperFetch",
                                     "SysMain",    "PreFetch", "Trim"};

using Values = std::array<std::int32_t, kSettingCount>;

std::string ProfileWith(const std::string& defValue) {
    std::string text;
    for (const char* section : kSectionNames) {
        text += std::string("[") + section + "]\r\nDefValue=" + defValue + "\r\n";
    }
    return text;
}

TEST_F(EngineTest, ProfilePathIsTheModulePathEndingInIni) {
    machine().SetModulePath(L"D:\\Tools\\ssd\\Quillmarsh.exe");
    EXPECT_EQ(SettingsEngine::GetProfilePath(), L"D:\\Tools\\ssd\\Quillmarsh.ini");
    machine().SetModulePath(L"C:\\x\\tool.EXE");
    EXPECT_EQ(SettingsEngine::GetProfilePath(), L"C:\\x\\tool.ini");
}

TEST_F(EngineTest, FirstRunWritesTheCurrentValuesInSectionOrder) {
    const SettingsEngine engine = StartedEngine(Generation::Xp);
    EXPECT_EQ(engine.m_nInitial, engine.m_nCurrent);
    const std::string expected =
        "[AutoDefrag]\r\nDefValue=1\r\n[Index]\r\nDefValue=2\r\n[SuperFetch]\r\nDefValue=0\r\n"
        "[SysMain]\r\nDefValue=-1\r\n[PreFetch]\r\nDefValue=3\r\n[Trim]\r\nDefValue=1\r\n";
    EXPECT_EQ(machine().FileContent(kProfile), expected);
    EXPECT_FALSE(machine().FileExists(kTemporary));
    // The same bytes as the profile functions write into a new file.
    const std::wstring other = kAppFolder + L"\\other.ini";
    const wchar_t* const values[] = {L"1", L"2", L"0", L"-1", L"3", L"1"};
    for (size_t i = 0; i < std::size(values); ++i) {
        const std::string name = kSectionNames[i];
        WritePrivateProfileStringW(std::wstring(name.begin(), name.end()).c_str(), L"DefValue",
                                   values[i], other.c_str());
    }
    EXPECT_EQ(machine().FileContent(other), expected);
}

TEST_F(EngineTest, SecondRunTakesTheInitialValuesFromTheFile) {
    machine().SetDwordValue(kHklmWSearch, L"Start", 3);
    StartedEngine(Generation::Win7);
    machine().SetDwordValue(kHklmWSearch, L"Start", 4);
    machine().SetDwordValue(kHklmOptimalLayout, L"EnableAutoLayout", 1);
    machine().calls.clear();

    const SettingsEngine second = StartedEngine(Generation::Win7);
    EXPECT_EQ(second.m_nCurrent, (Values{1, 4, 3, 3, 2, 1}));
    EXPECT_EQ(second.m_nInitial, (Values{0, 3, 3, 3, 2, 1}));
    EXPECT_TRUE(machine().CallsTo("WritePrivateProfileStringW").empty());
}

struct ParseCase {
    std::string text;
    std::int32_t expected;
};

void PrintTo(const ParseCase& c, std::ostream* os) {
    *os << '"' << c.text.substr(0, 20) << '"';
}

class InitialValueParseTest : public EngineTest, public ::testing::WithParamInterface<ParseCase> {};

TEST_P(InitialValueParseTest, ReadsLikeDecimalWcstolClampedTo32Bits) {
    machine().PutFile(kProfile, ProfileWith(GetParam().text));
    const SettingsEngine engine = StartedEngine(Generation::Win7);
    for (int id = 0; id < kSettingCount; ++id) {
        EXPECT_EQ(engine.m_nInitial[id], GetParam().expected) << "setting " << id;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, InitialValueParseTest,
    ::testing::Values(ParseCase{"3", 3}, ParseCase{"-1", -1}, ParseCase{"2x", 2},
                      ParseCase{"abc", 0}, ParseCase{"", 0}, ParseCase{"  +4", 4},
                      ParseCase{"\"3\"", 3}, ParseCase{"0x10", 0},
                      ParseCase{"2147483647", 2147483647},
                      ParseCase{"2147483648", std::numeric_limits<std::int32_t>::max()},
                      ParseCase{"99999999999999999999999",
                                std::numeric_limits<std::int32_t>::max()},
                      ParseCase{"-2147483649", std::numeric_limits<std::int32_t>::min()},
                      ParseCase{std::string(300, '7'), std::numeric_limits<std::int32_t>::max()},
                      ParseCase{std::string(600, '0') + "5", 0}));

TEST_F(EngineTest, ExistingEmptyOrForeignFileGivesZeros) {
    for (const std::string& content :
         {std::string(), std::string("MZ\x90\0 not a profile", 18),
          std::string("[Other]\r\nDefValue=3\r\n[Index]\r\nValue=2\r\n")}) {
        machine().Reset();
        machine().PutFile(kProfile, content);
        const SettingsEngine engine = StartedEngine(Generation::Win7);
        EXPECT_EQ(engine.m_nInitial, (Values{0, 0, 0, 0, 0, 0}));
        EXPECT_EQ(machine().FileContent(kProfile), content)
            << "an existing file is never rewritten";
    }
}

TEST_F(EngineTest, SectionAndKeyNamesMatchWhateverTheirCase) {
    machine().PutFile(kProfile, "[index]\r\n  defvalue = 3 \r\n[TRIM]\r\nDEFVALUE=0\r\n");
    const SettingsEngine engine = StartedEngine(Generation::Win7);
    EXPECT_EQ(engine.m_nInitial, (Values{0, 3, 0, 0, 0, 0}));
}

TEST_F(EngineTest, LongValueIsCutToTheBufferWithoutOverrun) {
    machine().PutFile(kProfile, "[Index]\r\nDefValue=" + std::string(259, '1') + "\r\n");
    WCHAR out[MAX_PATH + 8];
    for (WCHAR& c : out) {
        c = L'#';
    }
    auto& inner = *reinterpret_cast<WCHAR(*)[MAX_PATH]>(out);
    EXPECT_EQ(SettingsEngine::ReadInitialValue(L"Index", inner), TRUE);
    EXPECT_EQ(std::wstring(out), std::wstring(259, L'1'));

    machine().PutFile(kProfile, "[Index]\r\nDefValue=" + std::string(700, '2') + "\r\n");
    EXPECT_EQ(SettingsEngine::ReadInitialValue(L"Index", inner), TRUE);
    EXPECT_EQ(std::wstring(out), std::wstring(259, L'2'));
    EXPECT_EQ(out[MAX_PATH], L'#') << "nothing written past the buffer";
}

TEST_F(EngineTest, MissingValueLeavesTheOutputUntouched) {
    machine().PutFile(kProfile, "[Index]\r\nDefValue=\r\n");
    WCHAR out[MAX_PATH] = {L'z', 0};
    EXPECT_EQ(SettingsEngine::ReadInitialValue(L"Index", out), FALSE);
    EXPECT_EQ(SettingsEngine::ReadInitialValue(L"Trim", out), FALSE);
    EXPECT_EQ(std::wstring(out), L"z");
}

TEST_F(EngineTest, UnwritableFolderOrFailedWriteKeepsTheCurrentValuesAndTriesAgainNextRun) {
    // A snapshot cut short never gets the profile's name: it would read as zeros for good.
    struct Case {
        const char* what;
        std::vector<std::pair<const char*, int>> faults; // function, nth call
        bool leftover;        // the temporary file could not be removed either
        bool scanner = false; // which opens the file for a moment as it is closed
    };
    const Case cases[] = {
        {"unwritable folder", {}, false},
        {"write fails", {{"WriteFile", 1}}, false},
        {"flush fails", {{"FlushFileBuffers", 1}}, false},
        {"rename fails", {{"MoveFileExW", 1}}, false},
        {"rename fails while a scanner holds the file", {{"MoveFileExW", 1}}, false, true},
        {"write fails, then the delete", {{"WriteFile", 1}, {"DeleteFileW", 2}}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        machine().Reset();
        machine().SetDirectoryWritable(kAppFolder, !c.faults.empty());
        if (c.scanner) {
            machine().scannerHold = 2500000; // 250 ms
        }
        for (const auto& [function, nth] : c.faults) {
            machine().InjectFault(function, ERROR_DISK_FULL, nth);
        }
        const SettingsEngine engine = StartedEngine(Generation::Win7);
        EXPECT_EQ(engine.m_nInitial, engine.m_nCurrent);
        EXPECT_FALSE(machine().FileExists(kProfile));
        EXPECT_EQ(machine().FileExists(kTemporary), c.leftover);
        EXPECT_EQ(machine().OpenFileHandleCount(), 0);

        machine().SetDirectoryWritable(kAppFolder, true);
        machine().ClearFaults();
        StartedEngine(Generation::Win7);
        EXPECT_TRUE(machine().FileExists(kProfile));
        EXPECT_FALSE(machine().FileExists(kTemporary));
    }
}

TEST_F(EngineTest, FirstRunEndedAtAnyCallLeavesNoProfileOrAWholeOne) {
    // Values unlike the fallbacks and unlike zero, so that a snapshot of either shows.
    const auto prepare = [] {
        machine().SetDwordValue(kHklmOptimalLayout, L"EnableAutoLayout", 1);
        machine().SetDwordValue(kHklmWSearch, L"Start", 3);
        machine().SetDwordValue(kHklmSysMain, L"Start", 3);
        machine().SetDwordValue(kHklmPrefetch, L"EnablePrefetcher", 2);
        machine().SetDwordValue(kHklmFileSystem, L"DisableDeleteNotification", 0);
    };
    prepare();
    const SettingValues first = StartedEngine(Generation::Win7).m_nInitial;
    const int calls = machine().PlatformCallCount();
    const std::optional<std::string> whole = machine().FileContent(kProfile);
    ASSERT_TRUE(whole.has_value());
    for (const auto ending : {sim::Machine::Ending::ProcessEnds, sim::Machine::Ending::PowerCut}) {
        for (int nth = 1; nth <= calls; ++nth) {
            SCOPED_TRACE((ending == sim::Machine::Ending::PowerCut ? "power cut before call "
                                                                   : "process ends before call ") +
                         std::to_string(nth));
            SetUp();
            prepare();
            machine().EndBeforeCall(nth, ending);
            StartedEngine(Generation::Win7);
            ASSERT_TRUE(machine().LeaveEnded());
            const std::optional<std::string> left = machine().FileContent(kProfile);
            EXPECT_TRUE(!left.has_value() || left == whole) << "left: " << left.value_or("");

            EXPECT_EQ(StartedEngine(Generation::Win7).m_nInitial, first) << "the next run";
            EXPECT_EQ(machine().FileContent(kProfile), whole);
            EXPECT_FALSE(machine().FileExists(kTemporary));
        }
    }
}

TEST_F(EngineTest, ProfileIsNeverCreatedOrWrittenThroughALink) {
    const std::wstring victim = L"C:\\Windows\\victim.ini";
    const std::string victimBytes = "[keep]\r\nme=1\r\n";
    struct Case {
        const char* what;
        void (*arrange)(const std::wstring& victim);
    };
    const Case cases[] = {
        {"symbolic link", [](const std::wstring& v) { machine().AddSymbolicLink(kProfile, v); }},
        {"dangling symbolic link",
         [](const std::wstring& v) { machine().AddSymbolicLink(kProfile, v + L".new"); }},
        {"hard link", [](const std::wstring& v) { machine().AddHardLink(v, kProfile); }},
        {"link under the temporary name",
         [](const std::wstring& v) { machine().AddSymbolicLink(kTemporary, v); }},
        // Between removing a leftover and making the new file: the file is made new, and the
        // name itself is what is opened.
        {"hard link planted as the temporary file is made",
         [](const std::wstring& v) {
             machine().InjectAction("CreateFileW", 1,
                                    [v] { machine().AddHardLink(v, kTemporary); });
         }},
        {"dangling symbolic link planted as the temporary file is made",
         [](const std::wstring& v) {
             machine().InjectAction("CreateFileW", 1,
                                    [v] { machine().AddSymbolicLink(kTemporary, v + L".new"); });
         }},
        {"link planted under the profile's name while the snapshot is written",
         [](const std::wstring& v) {
             machine().InjectAction("WriteFile", 1,
                                    [v] { machine().AddSymbolicLink(kProfile, v); });
         }},
        {"link planted under the temporary name while the snapshot is written",
         [](const std::wstring& v) {
             machine().InjectAction("WriteFile", 1, [v] {
                 DeleteFileW(kTemporary.c_str()); // refused: it is open, shared with nobody
                 machine().AddSymbolicLink(kTemporary, v);
             });
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        machine().Reset();
        machine().PutFile(victim, victimBytes);
        c.arrange(victim);
        StartedEngine(Generation::Win7);
        EXPECT_EQ(machine().FileContent(victim), victimBytes);
        EXPECT_FALSE(machine().FileExists(victim + L".new"));
    }
    // The first profile itself is still written, into a file of the program's own.
    ASSERT_TRUE(machine().FileExists(kProfile));
    EXPECT_EQ(machine().FileAttributes(kProfile), FILE_ATTRIBUTE_ARCHIVE);
    EXPECT_EQ(machine().FileContent(kProfile)->rfind("[AutoDefrag]", 0), 0u);
}

// A temporary folder is emptied sooner or later, and a snapshot in it with it: none is taken
// there, so that OK asks first. The folders of Windows, of the user and of a drive are no
// temporary folder, whatever TMP says.
TEST_F(EngineTest, NoSnapshotIsTakenInsideATemporaryFolder) {
    const std::wstring adminTemp = L"C:\\Users\\Administrator\\AppData\\Local\\Temp";
    const std::wstring zipFolder =
        L"C:\\Users\\Other\\AppData\\Local\\Temp\\Temp12_Quillmarsh-1.0.3-win-x64.zip";
    struct Case {
        const char* what;
        std::wstring exe;
        std::optional<std::wstring> tmp; // TMP and TEMP; unset, USERPROFILE counts
        bool snapshot;
    };
    const Case cases[] = {
        {"in the temporary folder", L"C:\\Users\\Admin\\AppData\\Local\\Temp\\q.exe",
         L"C:\\Users\\Admin\\AppData\\Local\\Temp", false},
        {"below it, named in another case", adminTemp + L"\\tool\\q.exe",
         L"c:\\users\\administrator\\appdata\\local\\TEMP\\", false},
        {"TMP in short form", adminTemp + L"\\tool\\q.exe",
         L"C:\\Users\\ADMINI~1\\AppData\\Local\\Temp", false},
        {"the program's path in short form", L"C:\\Users\\ADMINI~1\\AppData\\Local\\Temp\\q.exe",
         adminTemp, false},
        {"a sibling whose name begins alike", L"C:\\Temp2\\q.exe", L"C:\\Temp", true},
        {"TMP a drive's root", L"C:\\Tools\\q.exe", L"C:\\", true},
        {"TMP the Windows folder", L"C:\\Windows\\Tools\\q.exe", L"C:\\WINDOWS", true},
        {"the profile folder", L"C:\\Users\\Admin\\Tools\\q.exe", std::nullopt, true},
        // Explorer's folder for a zip, in another administrator's temporary folder.
        {"Explorer's zip folder", zipFolder + L"\\q.exe", L"C:\\Temp", false},
        {"below Explorer's zip folder", zipFolder + L"\\Quillmarsh-1.0.3\\q.exe", L"C:\\Temp",
         false},
        {"no digits before the underscore", L"C:\\Backup\\Temp_old.zip\\q.exe", L"C:\\Temp", true},
        {"not ending in .zip", L"C:\\Backup\\Temp1_a.zipped\\q.exe", L"C:\\Temp", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        machine().Reset();
        for (const std::wstring& folder :
             {adminTemp + L"\\tool", zipFolder + L"\\Quillmarsh-1.0.3", std::wstring(L"C:\\Temp2"),
              std::wstring(L"C:\\Tools"), std::wstring(L"C:\\Windows\\Tools"),
              std::wstring(L"C:\\Users\\Admin\\Tools"), std::wstring(L"C:\\Backup\\Temp_old.zip"),
              std::wstring(L"C:\\Backup\\Temp1_a.zipped")}) {
            machine().AddDirectory(folder);
        }
        machine().SetShortName(L"C:\\Users\\Administrator", L"ADMINI~1");
        machine().SetModulePath(c.exe);
        machine().SetEnvironment(L"TMP", c.tmp);
        machine().SetEnvironment(L"TEMP", c.tmp);

        const SettingsEngine engine = StartedEngine(Generation::Win7);
        EXPECT_EQ(engine.m_nInitial, engine.m_nCurrent);
        EXPECT_EQ(SettingsEngine::HasProfile(), c.snapshot);
        EXPECT_EQ(machine().CallsTo("CreateFileW").empty(), !c.snapshot) << "not even tried";
    }

    // A snapshot already there is still read.
    machine().Reset();
    const std::wstring inTemp = L"C:\\Users\\Admin\\AppData\\Local\\Temp\\Quillmarsh";
    machine().SetModulePath(inTemp + L"\\Quillmarsh.exe");
    machine().PutFile(inTemp + L"\\Quillmarsh.ini", ProfileWith("2"));
    EXPECT_EQ(StartedEngine(Generation::Win7).m_nInitial, (Values{2, 2, 2, 2, 2, 2}));
    EXPECT_TRUE(SettingsEngine::HasProfile());
}

TEST_F(EngineTest, ModulePathTooLongForTheBufferUsesNoProfile) {
    const std::wstring folder = L"C:\\" + std::wstring(250, L'd');
    for (const std::wstring& exe : {folder + L"\\Quillmarsh.exe", folder + L"\\abcde.exe"}) {
        machine().Reset();
        machine().SetModulePath(exe);
        machine().PutFile(folder + L"\\Quillmarsh.ini", ProfileWith("4"));
        const SettingsEngine engine = StartedEngine(Generation::Win7);
        EXPECT_EQ(engine.m_nInitial, engine.m_nCurrent);
        EXPECT_TRUE(machine().CallsTo("WritePrivateProfileStringW").empty());
        EXPECT_EQ(SettingsEngine::GetProfilePath(), L"");
    }
}

} // namespace
