#include "engine_fixture.h"

#include "engine/layout_file.h"
#include "fw/file.h"

namespace {

const std::wstring kLayout = L"C:\\Windows\\Prefetch\\Layout.ini";
const std::wstring kCopy = L"C:\\Program Files\\Quillmarsh\\Layout_back.ini";
// Longer than one copy chunk, so the copy loop runs several times.
const std::string kContent = std::string(700, 'L') + "end";

class LayoutFileTest : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        machine().SetStringValue(kHklmOptimalLayout, L"LayoutFilePath", kLayout);
    }
    static void PutLayout(DWORD attributes) {
        machine().PutFile(kLayout, kContent, attributes);
        machine().SetFileTimes(
            kLayout, {130000000000000000ULL, 130000000010000000ULL, 130000000020000000ULL});
    }
    static void Protect(bool prefetchOn) {
        CFile layout;
        CFile copy;
        ProtectLayoutFile(prefetchOn, layout, copy);
    }
};

TEST_F(LayoutFileTest, PrefetchOffMakesAWritableFileReadOnlyWithTheSameContent) {
    PutLayout(FILE_ATTRIBUTE_ARCHIVE);
    Protect(false);
    EXPECT_EQ(machine().FileContent(kLayout), kContent);
    EXPECT_EQ(machine().FileAttributes(kLayout), FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY);
    EXPECT_FALSE(machine().FileExists(kCopy));
    EXPECT_EQ(machine().OpenFileHandleCount(), 0);
}

TEST_F(LayoutFileTest, PrefetchOnMakesAReadOnlyFileWritableWithItsOldContent) {
    PutLayout(FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY);
    Protect(true);
    EXPECT_EQ(machine().FileContent(kLayout), kContent);
    EXPECT_EQ(machine().FileAttributes(kLayout), FILE_ATTRIBUTE_ARCHIVE);
    EXPECT_FALSE(machine().FileExists(kCopy));
    // The read-only file refuses the delete and the copy back for good: no pause for either.
    EXPECT_FALSE(machine().CallsTo("DeleteFileW").empty());
    EXPECT_TRUE(machine().CallsTo("Sleep").empty());
}

TEST_F(LayoutFileTest, FileAlreadyInTheWantedStateIsOnlyOpenedAndRead) {
    for (const bool prefetchOn : {true, false}) {
        machine().calls.clear();
        const DWORD attributes =
            prefetchOn ? FILE_ATTRIBUTE_ARCHIVE : FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY;
        PutLayout(attributes);
        Protect(prefetchOn);
        EXPECT_EQ(machine().FileAttributes(kLayout), attributes);
        EXPECT_FALSE(machine().FileExists(kCopy));
        EXPECT_EQ(machine().CallsTo("CreateFileW").size(), 1u);
        EXPECT_TRUE(machine().CallsTo("DeleteFileW").empty());
        EXPECT_TRUE(machine().CallsTo("SetFileAttributesW").empty());
    }
}

TEST_F(LayoutFileTest, NothingHappensWithoutAUsableLayoutFile) {
    struct Case {
        const char* what;
        void (*arrange)();
    };
    const Case cases[] = {
        {"no key", [] { machine().Reset(); }},
        {"empty value",
         [] {
             machine().SetValue(kHklmOptimalLayout, L"LayoutFilePath", REG_SZ, {0, 0});
         }},
        {"no file", [] { machine().PutFile(L"C:\\other.ini", "x"); }},
        {"path of 260 characters",
         [] {
             machine().SetStringValue(kHklmOptimalLayout, L"LayoutFilePath",
                                      L"C:\\" + std::wstring(257, L'p'));
         }},
        {"path far too long",
         [] {
             machine().SetStringValue(kHklmOptimalLayout, L"LayoutFilePath",
                                      L"C:\\" + std::wstring(600, L'p'));
         }},
        {"unwritable current folder",
         [] {
             PutLayout(FILE_ATTRIBUTE_ARCHIVE);
             machine().SetDirectoryWritable(L"C:\\Program Files\\Quillmarsh", false);
         }},
        {"held open by another process",
         [] {
             PutLayout(FILE_ATTRIBUTE_ARCHIVE);
             machine().HoldOpenByOtherProcess(kLayout);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        c.arrange();
        const auto before = machine().FileContent(kLayout);
        const auto attributesBefore = machine().FileAttributes(kLayout);
        EXPECT_NO_THROW(Protect(false));
        EXPECT_EQ(machine().FileContent(kLayout), before);
        EXPECT_EQ(machine().FileAttributes(kLayout), attributesBefore);
        EXPECT_FALSE(machine().FileExists(kCopy));
        EXPECT_TRUE(machine().CallsTo("DeleteFileW").empty());
    }
}

// A refusal that the call's own attributes make is not waited on, though a hold on the same file
// is: an overwrite of a hidden or system copy, a copy back onto a hidden layout file.
TEST_F(LayoutFileTest, RefusalsForGoodAreNotWaitedOn) {
    struct Case {
        const char* what;
        void (*arrange)();
        DWORD waitedMs; // the delete of a mapped layout file waits out the bound
    };
    const Case cases[] = {
        {"hidden copy in the current folder",
         [] { machine().PutFile(kCopy, "old", FILE_ATTRIBUTE_HIDDEN); }, 0},
        {"system copy in the current folder",
         [] { machine().PutFile(kCopy, "old", FILE_ATTRIBUTE_SYSTEM); }, 0},
        {"hidden layout file mapped for good",
         [] {
             PutLayout(FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN);
             machine().HoldFile(kLayout, sim::Machine::Hold::Map, sim::Machine::kForever);
         },
         1575},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        PutLayout(FILE_ATTRIBUTE_ARCHIVE);
        c.arrange();
        EXPECT_NO_THROW(Protect(false));
        DWORD waited = 0;
        for (const sim::CallRecord& pause : machine().CallsTo("Sleep")) {
            waited += pause.detail;
        }
        EXPECT_EQ(waited, c.waitedMs);
        EXPECT_EQ(machine().FileContent(kLayout), kContent);
    }
}

TEST_F(LayoutFileTest, PathOf259CharactersIsUsed) {
    const std::wstring path = L"C:\\" + std::wstring(256, L'p');
    machine().SetStringValue(kHklmOptimalLayout, L"LayoutFilePath", path);
    machine().PutFile(path, kContent);
    Protect(false);
    EXPECT_EQ(machine().FileAttributes(path), FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY);
}

TEST_F(LayoutFileTest, FilesStayOpenUntilTheirOwnerEndsWhenTheStepStopsEarly) {
    PutLayout(FILE_ATTRIBUTE_ARCHIVE);
    {
        CFile layout;
        CFile copy;
        ProtectLayoutFile(true, layout, copy);
        EXPECT_TRUE(layout.IsOpen());
        EXPECT_EQ(machine().OpenFileHandleCount(), 1);
    }
    EXPECT_EQ(machine().OpenFileHandleCount(), 0);
}

TEST_F(LayoutFileTest, WriteErrorWhileCopyingIsAFileErrorAndLosesNothing) {
    PutLayout(FILE_ATTRIBUTE_ARCHIVE);
    machine().InjectFault("WriteFile", ERROR_DISK_FULL, 2);
    try {
        Protect(false);
        ADD_FAILURE() << "a write error must escape as a file error";
    } catch (const CFileException& e) {
        EXPECT_EQ(e.m_cause, CFileException::diskFull);
        EXPECT_EQ(e.m_lOsError, ERROR_DISK_FULL);
    }
    EXPECT_EQ(machine().FileContent(kLayout), kContent);
    EXPECT_EQ(machine().FileAttributes(kLayout), FILE_ATTRIBUTE_ARCHIVE);
    EXPECT_EQ(machine().OpenFileHandleCount(), 0);

    machine().ClearFaults();
    Protect(false);
    EXPECT_EQ(machine().FileAttributes(kLayout), FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY);
}

TEST_F(LayoutFileTest, FailedCopyBackKeepsTheCopyAndReportsAFileError) {
    PutLayout(FILE_ATTRIBUTE_ARCHIVE);
    machine().InjectFault("CopyFileW", ERROR_DISK_FULL);
    EXPECT_THROW(Protect(false), CFileException);
    EXPECT_FALSE(machine().FileExists(kLayout));
    EXPECT_EQ(machine().FileContent(kCopy), kContent) << "the only copy must survive";
}

TEST_F(LayoutFileTest, TemporaryCopyIsNeverWrittenThroughALink) {
    const std::wstring victim = L"C:\\Users\\me\\notes.txt";
    const std::string victimBytes = "the user's own notes";
    struct Case {
        const char* what;
        void (*arrange)(const std::wstring& victim);
        bool protectedAfter; // the layout file ends read-only
        bool reused;         // the existing file was emptied and used
    };
    const Case cases[] = {
        {"hard link", [](const std::wstring& v) { machine().AddHardLink(v, kCopy); }, true, false},
        {"symbolic link", [](const std::wstring& v) { machine().AddSymbolicLink(kCopy, v); }, true,
         false},
        {"dangling symbolic link",
         [](const std::wstring& v) { machine().AddSymbolicLink(kCopy, v + L".new"); }, true, false},
        {"plain file", [](const std::wstring&) { machine().PutFile(kCopy, "old"); }, true, true},
        // Between the removal of a planted link and the creation of the copy.
        {"link planted again",
         [](const std::wstring& v) {
             machine().AddHardLink(v, kCopy);
             machine().InjectAction("CreateFileW", 3, [v] { machine().AddHardLink(v, kCopy); });
         },
         false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        PutLayout(FILE_ATTRIBUTE_ARCHIVE);
        machine().PutFile(victim, victimBytes);
        c.arrange(victim);
        EXPECT_NO_THROW(Protect(false));
        EXPECT_EQ(machine().FileContent(victim), victimBytes);
        EXPECT_FALSE(machine().FileExists(victim + L".new"));
        EXPECT_EQ(machine().FileContent(kLayout), kContent);
        EXPECT_EQ(machine().FileAttributes(kLayout),
                  FILE_ATTRIBUTE_ARCHIVE | (c.protectedAfter ? FILE_ATTRIBUTE_READONLY : 0));
        EXPECT_EQ(machine().OpenFileHandleCount(), 0);
        EXPECT_EQ(machine().CallsTo("SetEndOfFile").size(), c.reused ? 1u : 0u);
    }
}

} // namespace
