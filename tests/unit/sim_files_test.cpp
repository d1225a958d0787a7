// The simulated file system: paths, read-only and sharing rules, CopyFile and DeleteFile.
#include "platform/win32.h"
#include "sim/machine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <iterator>
#include <optional>
#include <string>

namespace {

const std::wstring kDir = L"C:\\Data";
const std::wstring kFile = L"C:\\Data\\layout.ini";

class SimFiles : public ::testing::Test {
protected:
    void SetUp() override {
        m.Reset();
        m.AddDirectory(kDir);
    }

    static HANDLE Open(const std::wstring& path, DWORD access, DWORD share, DWORD disposition) {
        return CreateFileW(path.c_str(), access, share, nullptr, disposition, 0, nullptr);
    }

    sim::Machine& m = sim::TheMachine();
};

constexpr DWORD R = GENERIC_READ;
constexpr DWORD W = GENERIC_WRITE;
constexpr DWORD SR = FILE_SHARE_READ;
constexpr DWORD SW = FILE_SHARE_WRITE;
constexpr DWORD SD = FILE_SHARE_DELETE;

TEST_F(SimFiles, MissingFilesAndFoldersGiveDistinctErrors) {
    SetLastError(0);
    EXPECT_EQ(GetFileAttributesW(L"C:\\Data\\none.ini"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(GetFileAttributesW(L"C:\\Nowhere\\none.ini"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));

    EXPECT_EQ(Open(L"C:\\Nowhere\\new.ini", W, 0, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(Open(L"C:\\Data\\none.ini", R, SR, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(GetFileAttributesW(L"C:\\Data"), FILE_ATTRIBUTE_DIRECTORY);
}

// GetTempPathW takes TMP, TEMP, USERPROFILE, then the Windows folder, the first that is set,
// ending in a backslash; GetLongPathNameW needs every component to exist.
TEST_F(SimFiles, TemporaryFolderAndLongNames) {
    WCHAR buffer[MAX_PATH + 1];
    const auto temp = [&] {
        return GetTempPathW(MAX_PATH + 1, buffer) != 0 ? std::wstring(buffer) : L"failed";
    };
    EXPECT_EQ(temp(), L"C:\\Users\\Admin\\AppData\\Local\\Temp\\");
    m.SetEnvironment(L"TMP", L"D:\\t");
    EXPECT_EQ(temp(), L"D:\\t\\");
    m.SetEnvironment(L"tmp", std::nullopt);
    m.SetEnvironment(L"TEMP", L"C:\\Data\\");
    EXPECT_EQ(temp(), L"C:\\Data\\");
    m.SetEnvironment(L"TEMP", std::nullopt);
    EXPECT_EQ(temp(), L"C:\\Users\\Admin\\");
    m.SetEnvironment(L"USERPROFILE", std::nullopt);
    EXPECT_EQ(temp(), L"C:\\Windows\\");
    std::fill(std::begin(buffer), std::end(buffer), L'#');
    EXPECT_EQ(GetTempPathW(4, buffer), 12u) << "the size needed";
    EXPECT_EQ(buffer[0], L'\0') << "too small a buffer is emptied";

    m.AddDirectory(L"C:\\Data\\Long Folder Name");
    m.SetShortName(L"C:\\Data\\Long Folder Name", L"LONGFO~1");
    EXPECT_EQ(GetLongPathNameW(L"C:\\Data\\LONGFO~1\\", buffer, MAX_PATH), 25u);
    EXPECT_EQ(std::wstring(buffer), L"C:\\Data\\Long Folder Name\\");
    std::fill(std::begin(buffer), std::end(buffer), L'#');
    EXPECT_EQ(GetLongPathNameW(L"C:\\Data\\longfo~1", buffer, 10), 25u) << "the size needed";
    EXPECT_EQ(buffer[0], L'#');
    EXPECT_EQ(GetFileAttributesW(L"C:\\Data\\LONGFO~1"), INVALID_FILE_ATTRIBUTES)
        << "only GetLongPathNameW knows short names";
    const struct {
        const wchar_t* path;
        DWORD error;
    } missing[] = {{L"C:\\Data\\none.ini", ERROR_FILE_NOT_FOUND},
                   {L"C:\\Nowhere\\none.ini", ERROR_PATH_NOT_FOUND},
                   {L"", ERROR_PATH_NOT_FOUND}};
    for (const auto& c : missing) {
        SetLastError(0);
        EXPECT_EQ(GetLongPathNameW(c.path, buffer, MAX_PATH), 0u) << std::wstring(c.path).size();
        EXPECT_EQ(GetLastError(), c.error);
    }
}

TEST_F(SimFiles, RelativeNamesResolveAgainstTheCurrentDirectoryCaseInsensitively) {
    m.PutFile(kFile, "x");
    m.SetCurrentDirectory(L"c:\\data");
    EXPECT_EQ(GetFileAttributesW(L"LAYOUT.INI"), FILE_ATTRIBUTE_ARCHIVE);
    EXPECT_EQ(GetFileAttributesW(L".\\sub\\..\\Layout.ini"), FILE_ATTRIBUTE_ARCHIVE);
    EXPECT_EQ(GetFileAttributesW(L"\\Data\\layout.ini"), FILE_ATTRIBUTE_ARCHIVE);
    EXPECT_EQ(m.CallsTo("GetFileAttributesW")[0].target, L"C:\\Data\\LAYOUT.INI");
    EXPECT_TRUE(m.FileExists(L"C:/DATA/layout.ini"));
}

TEST_F(SimFiles, NewFilesAreArchivedAndStampedWithTheClock) {
    m.SetClock(1234567);
    HANDLE h = Open(kFile, W, 0, CREATE_NEW);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(m.OpenFileHandleCount(), 1);
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(h, "abc", 3, &written, nullptr));
    EXPECT_EQ(written, 3u);
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_EQ(m.OpenFileHandleCount(), 0);
    EXPECT_EQ(m.FileContent(kFile), "abc");
    EXPECT_EQ(m.FileAttributes(kFile), FILE_ATTRIBUTE_ARCHIVE);
    const auto times = m.FileTimesOf(kFile);
    ASSERT_TRUE(times.has_value());
    EXPECT_EQ(times->creation, 1234567u);
    EXPECT_EQ(times->lastWrite, 1234567u);

    EXPECT_EQ(Open(kFile, W, 0, CREATE_NEW), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
}

TEST_F(SimFiles, DispositionsOnAnExistingFile) {
    struct Case {
        DWORD disposition;
        std::string contentAfter;
        DWORD lastError;
    };
    const Case cases[] = {
        {OPEN_EXISTING, "old", ERROR_SUCCESS},
        {OPEN_ALWAYS, "old", ERROR_ALREADY_EXISTS},
        {CREATE_ALWAYS, "", ERROR_ALREADY_EXISTS},
        {TRUNCATE_EXISTING, "", ERROR_SUCCESS},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.disposition);
        m.PutFile(kFile, "old");
        SetLastError(999);
        HANDLE h = Open(kFile, R | W, 0, c.disposition);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(c.lastError));
        CloseHandle(h);
        EXPECT_EQ(m.FileContent(kFile), c.contentAfter);
    }
}

TEST_F(SimFiles, ReadOnlyFilesRefuseWritingButNotAttributeChanges) {
    m.PutFile(kFile, "data", FILE_ATTRIBUTE_READONLY);
    struct Case {
        DWORD access;
        DWORD disposition;
        bool opens;
    };
    const Case cases[] = {
        {R, OPEN_EXISTING, true},
        {FILE_READ_ATTRIBUTES, OPEN_EXISTING, true},
        {FILE_WRITE_ATTRIBUTES, OPEN_EXISTING, true},
        {W, OPEN_EXISTING, false},
        {R | W, OPEN_ALWAYS, false},
        {R, CREATE_ALWAYS, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.access << " " << c.disposition);
        HANDLE h = Open(kFile, c.access, SR | SW | SD, c.disposition);
        EXPECT_EQ(h != INVALID_HANDLE_VALUE, c.opens);
        if (h == INVALID_HANDLE_VALUE) {
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
        } else {
            CloseHandle(h);
        }
    }
    EXPECT_EQ(m.FileContent(kFile), "data");
}

TEST_F(SimFiles, ShareModesFollowWindowsCompatibilityRules) {
    struct Case {
        DWORD firstAccess, firstShare, secondAccess, secondShare;
        bool secondOpens;
    };
    const Case cases[] = {
        {R, 0, R, SR, false},
        {R, SR, R, SR, true},
        {R, SR, W, SR | SW, false},            // first does not share write
        {R, SR | SW, W, SR, true},             // both sides agree
        {W, SR | SW, R, SR, false},            // second must share the first's write
        {R, SR, R, 0, false},                  // second refuses the first's read
        {R, 0, FILE_READ_ATTRIBUTES, 0, true}, // attribute-only opens take no part
        {FILE_WRITE_ATTRIBUTES, 0, R | W, 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.firstAccess << "/" << c.firstShare << " "
                                        << c.secondAccess << "/" << c.secondShare);
        m.PutFile(kFile, "x");
        HANDLE first = Open(kFile, c.firstAccess, c.firstShare, OPEN_EXISTING);
        ASSERT_NE(first, INVALID_HANDLE_VALUE);
        HANDLE second = Open(kFile, c.secondAccess, c.secondShare, OPEN_EXISTING);
        EXPECT_EQ(second != INVALID_HANDLE_VALUE, c.secondOpens);
        if (second == INVALID_HANDLE_VALUE) {
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
        } else {
            CloseHandle(second);
        }
        CloseHandle(first);
    }
}

TEST_F(SimFiles, OtherProgramsHoldFilesUntilTheirTimeIsUp) {
    m.PutFile(kFile, "x");
    m.PutFile(L"C:\\Data\\other.ini", "y");
    m.HoldOpenByOtherProcess(kFile);
    EXPECT_EQ(Open(kFile, R, SR | SW | SD, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_FALSE(DeleteFileW(kFile.c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_FALSE(CopyFileW(kFile.c_str(), L"C:\\Data\\copy.ini", FALSE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_FALSE(CopyFileW(L"C:\\Data\\other.ini", kFile.c_str(), FALSE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_NE(GetFileAttributesW(kFile.c_str()), INVALID_FILE_ATTRIBUTES);

    m.HoldOpenByOtherProcess(kFile, false);
    EXPECT_TRUE(DeleteFileW(kFile.c_str()));

    // A scanner opens a file as it is closed after writing, sharing read and write, until its
    // time on the simulated clock is up; a call's hold takes the source of a rename too.
    m.scannerHold = 2500000; // 250 ms
    HANDLE h = Open(kFile, W, 0, CREATE_NEW);
    CloseHandle(h);
    HANDLE reader = Open(kFile, R, SR | SW, OPEN_EXISTING);
    EXPECT_NE(reader, INVALID_HANDLE_VALUE);
    CloseHandle(reader);
    EXPECT_FALSE(MoveFileExW(kFile.c_str(), L"C:\\Data\\moved.ini", 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    Sleep(249);
    EXPECT_FALSE(DeleteFileW(kFile.c_str()));
    Sleep(1);
    m.scannerHold.reset();
    m.HoldBeforeCall("MoveFileExW", 2, 2500000);
    EXPECT_FALSE(MoveFileExW(kFile.c_str(), L"C:\\Data\\moved.ini", 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));

    // What each kind of hold refuses until its time is up; then the call passes. `handle` is ours,
    // reading and writing and sharing everything; a pending name goes once the hold is over.
    using Hold = sim::Machine::Hold;
    struct Row {
        Hold hold;
        const char* what;
        std::function<BOOL(HANDLE)> call;
        DWORD error;
    };
    const auto create = [](HANDLE) {
        HANDLE made = Open(kFile, W, 0, CREATE_NEW);
        return made != INVALID_HANDLE_VALUE && CloseHandle(made);
    };
    const Row rows[] = {
        {Hold::Map, "delete", [](HANDLE) { return DeleteFileW(kFile.c_str()); },
         ERROR_ACCESS_DENIED},
        {Hold::Map, "truncate", [](HANDLE handle) { return SetEndOfFile(handle); },
         ERROR_USER_MAPPED_FILE},
        {Hold::Lock, "read",
         [](HANDLE handle) {
             char c = 0;
             DWORD count = 0;
             return ReadFile(handle, &c, 1, &count, nullptr);
         },
         ERROR_LOCK_VIOLATION},
        {Hold::Lock, "write",
         [](HANDLE handle) {
             DWORD count = 0;
             return WriteFile(handle, "x", 1, &count, nullptr);
         },
         ERROR_LOCK_VIOLATION},
        {Hold::Delete, "attributes",
         [](HANDLE) { return BOOL{GetFileAttributesW(kFile.c_str()) != INVALID_FILE_ATTRIBUTES}; },
         ERROR_ACCESS_DENIED},
        {Hold::Delete, "attribute data",
         [](HANDLE) {
             WIN32_FILE_ATTRIBUTE_DATA data{};
             return GetFileAttributesExW(kFile.c_str(), GetFileExInfoStandard, &data);
         },
         ERROR_ACCESS_DENIED},
        {Hold::Delete, "new file", create, ERROR_ACCESS_DENIED},
        // The indexer shares delete: our delete succeeds, and the name stays meanwhile.
        {Hold::Indexer, "new file after our delete", create, ERROR_ACCESS_DENIED},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        SetUp();
        m.PutFile(kFile, "data");
        const bool pending = row.hold == Hold::Delete || row.hold == Hold::Indexer;
        HANDLE handle =
            pending ? INVALID_HANDLE_VALUE : Open(kFile, R | W, SR | SW | SD, OPEN_EXISTING);
        m.HoldFile(kFile, row.hold, 2500000);
        if (row.hold == Hold::Indexer) {
            EXPECT_TRUE(DeleteFileW(kFile.c_str()));
        }
        EXPECT_FALSE(row.call(handle));
        EXPECT_EQ(GetLastError(), row.error);
        EXPECT_EQ(m.refusedByOtherPrograms, std::vector<size_t>{m.calls.size() - 1});
        EXPECT_TRUE(m.FileExists(kFile));
        Sleep(250);
        EXPECT_EQ(m.FileExists(kFile), !pending) << "the name goes with the last handle";
        const BOOL passes = row.call(handle);
        EXPECT_TRUE(passes || GetLastError() == ERROR_FILE_NOT_FOUND) << "once the hold is over";
        CloseHandle(handle);
    }
}

TEST_F(SimFiles, ReadingAndWritingNeedTheMatchingAccess) {
    m.PutFile(kFile, "hello");
    HANDLE h = Open(kFile, R, SR, OPEN_EXISTING);
    char buffer[8] = {};
    DWORD count = 99;
    EXPECT_TRUE(ReadFile(h, buffer, 3, &count, nullptr));
    EXPECT_EQ(std::string(buffer, count), "hel");
    EXPECT_TRUE(ReadFile(h, buffer, 8, &count, nullptr));
    EXPECT_EQ(std::string(buffer, count), "lo");
    EXPECT_TRUE(ReadFile(h, buffer, 8, &count, nullptr)); // end of file
    EXPECT_EQ(count, 0u);
    EXPECT_FALSE(WriteFile(h, "x", 1, &count, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    CloseHandle(h);

    m.SetClock(777);
    h = Open(kFile, W, 0, OPEN_EXISTING);
    EXPECT_FALSE(ReadFile(h, buffer, 1, &count, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(WriteFile(h, "J", 1, &count, nullptr));
    CloseHandle(h);
    EXPECT_EQ(m.FileContent(kFile), "Jello");
    EXPECT_EQ(m.FileTimesOf(kFile)->lastWrite, 777u);

    EXPECT_FALSE(ReadFile(h, buffer, 1, &count, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(CloseHandle(h));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(CloseHandle(INVALID_HANDLE_VALUE));
}

TEST_F(SimFiles, SetFileTimeNeedsWriteAttributesAndLeavesNullTimesAlone) {
    m.PutFile(kFile, "x");
    m.SetFileTimes(kFile, {100, 200, 300});
    const FILETIME newWrite{999, 1};

    HANDLE reader = Open(kFile, R, SR | SW, OPEN_EXISTING);
    EXPECT_FALSE(SetFileTime(reader, nullptr, nullptr, &newWrite));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    CloseHandle(reader);

    HANDLE h = Open(kFile, FILE_WRITE_ATTRIBUTES, 0, OPEN_EXISTING);
    EXPECT_TRUE(SetFileTime(h, nullptr, nullptr, &newWrite));
    CloseHandle(h);
    const auto times = m.FileTimesOf(kFile);
    EXPECT_EQ(times->creation, 100u);
    EXPECT_EQ(times->lastAccess, 200u);
    EXPECT_EQ(times->lastWrite, (1ull << 32) | 999u);
}

TEST_F(SimFiles, InformationByHandleAndAttributeData) {
    m.PutFile(kFile, "12345", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
    m.SetFileTimes(kFile, {1, 2, 0x100000005ull});
    HANDLE h = Open(kFile, R, SR, OPEN_EXISTING);
    BY_HANDLE_FILE_INFORMATION info{};
    ASSERT_TRUE(GetFileInformationByHandle(h, &info));
    EXPECT_EQ(info.dwFileAttributes, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
    EXPECT_EQ(info.nFileSizeLow, 5u);
    EXPECT_EQ(info.ftLastWriteTime.dwHighDateTime, 1u);
    EXPECT_EQ(info.ftLastWriteTime.dwLowDateTime, 5u);
    CloseHandle(h);

    WIN32_FILE_ATTRIBUTE_DATA data{};
    ASSERT_TRUE(GetFileAttributesExW(kFile.c_str(), GetFileExInfoStandard, &data));
    EXPECT_EQ(data.nFileSizeLow, 5u);
    EXPECT_EQ(data.ftCreationTime.dwLowDateTime, 1u);
    EXPECT_FALSE(GetFileAttributesExW(L"C:\\Data\\no", GetFileExInfoStandard, &data));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(SimFiles, SetFileAttributesStoresOnlySettableBits) {
    m.PutFile(kFile, "x");
    struct Case {
        DWORD given;
        DWORD reported;
    };
    const Case cases[] = {
        {FILE_ATTRIBUTE_NORMAL, FILE_ATTRIBUTE_NORMAL},
        {0, FILE_ATTRIBUTE_NORMAL},
        {FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_NORMAL, FILE_ATTRIBUTE_READONLY},
        {FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY, FILE_ATTRIBUTE_READONLY},
        {FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE,
         FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.given);
        EXPECT_TRUE(SetFileAttributesW(kFile.c_str(), c.given));
        EXPECT_EQ(GetFileAttributesW(kFile.c_str()), c.reported);
        EXPECT_EQ(m.FileAttributes(kFile), c.reported);
    }
    EXPECT_FALSE(SetFileAttributesW(L"C:\\Data\\none", 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(SimFiles, DeleteFileRules) {
    EXPECT_FALSE(DeleteFileW(kFile.c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

    m.PutFile(kFile, "x", FILE_ATTRIBUTE_READONLY);
    EXPECT_FALSE(DeleteFileW(kFile.c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(m.FileExists(kFile));

    m.PutFile(kFile, "x");
    HANDLE h = Open(kFile, R, SR | SW, OPEN_EXISTING);
    EXPECT_FALSE(DeleteFileW(kFile.c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    CloseHandle(h);

    // Deleted while open: the name stays, refusing opens, until the last handle closes.
    h = Open(kFile, R, SR | SD, OPEN_EXISTING);
    EXPECT_TRUE(DeleteFileW(kFile.c_str()));
    EXPECT_TRUE(m.FileExists(kFile));
    EXPECT_EQ(Open(kFile, R, SR | SW | SD, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(GetFileAttributesW(kFile.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    char c = 0;
    DWORD count = 0;
    EXPECT_TRUE(ReadFile(h, &c, 1, &count, nullptr)); // the open handle still reads
    EXPECT_EQ(c, 'x');
    CloseHandle(h);
    EXPECT_FALSE(m.FileExists(kFile));

    m.PutFile(kFile, "x");
    m.SetDirectoryWritable(kDir, false);
    EXPECT_FALSE(DeleteFileW(kFile.c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST_F(SimFiles, ARecreatedFileKeepsItsCreationTimeWithinFifteenSeconds) {
    const ULONGLONG second = 10000000;
    struct Case {
        ULONGLONG delay;
        bool keeps;
    };
    for (const Case& c : {Case{0, true}, Case{15 * second, true}, Case{16 * second, false}}) {
        SCOPED_TRACE(c.delay);
        m.PutFile(kFile, "x");
        m.SetFileTimes(kFile, {100, 100, 100});
        m.SetClock(1000 * second);
        ASSERT_TRUE(DeleteFileW(kFile.c_str()));
        m.SetClock(1000 * second + c.delay);
        HANDLE h = Open(kFile, W, 0, CREATE_NEW);
        CloseHandle(h);
        EXPECT_EQ(m.FileTimesOf(kFile)->creation, c.keeps ? 100u : 1000 * second + c.delay);
        EXPECT_EQ(m.FileTimesOf(kFile)->lastWrite, 1000 * second + c.delay);
        ASSERT_TRUE(DeleteFileW(kFile.c_str()));
    }
}

TEST_F(SimFiles, UnwritableDirectoriesRefuseNewAndOverwrittenFiles) {
    m.PutFile(kFile, "x");
    m.SetDirectoryWritable(kDir, false);
    EXPECT_EQ(Open(L"C:\\Data\\new.ini", W, 0, CREATE_NEW), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(Open(kFile, W, 0, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    HANDLE h = Open(kFile, R, SR, OPEN_EXISTING);
    EXPECT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);
    EXPECT_TRUE(SetFileAttributesW(kFile.c_str(), FILE_ATTRIBUTE_READONLY));
}

TEST_F(SimFiles, CopyCarriesAttributesPlusArchiveAndTheSourceWriteTime) {
    const std::wstring source = L"C:\\Data\\source.ini";
    const std::wstring target = L"C:\\Data\\target.ini";
    m.PutFile(source, "payload", FILE_ATTRIBUTE_READONLY);
    m.SetFileTimes(source, {10, 20, 30});
    m.SetClock(5000);
    ASSERT_TRUE(CopyFileW(source.c_str(), target.c_str(), TRUE));
    EXPECT_EQ(m.FileContent(target), "payload");
    EXPECT_EQ(m.FileAttributes(target), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
    EXPECT_EQ(m.FileTimesOf(target)->lastWrite, 30u);
    EXPECT_EQ(m.FileTimesOf(target)->creation, 5000u);
    EXPECT_EQ(m.CallsTo("CopyFileW")[0].target, target);
}

TEST_F(SimFiles, CopyFailures) {
    const std::wstring source = L"C:\\Data\\source.ini";
    const std::wstring target = L"C:\\Data\\target.ini";
    struct Case {
        const char* name;
        void (*arrange)(sim::Machine&, const std::wstring& target);
        BOOL failIfExists;
        DWORD error;
    };
    const Case cases[] = {
        {"target read-only",
         [](sim::Machine& mm, const std::wstring& t) {
             mm.PutFile(t, "old", FILE_ATTRIBUTE_READONLY);
         },
         FALSE, ERROR_ACCESS_DENIED},
        {"target hidden",
         [](sim::Machine& mm, const std::wstring& t) {
             mm.PutFile(t, "old", FILE_ATTRIBUTE_HIDDEN);
         },
         FALSE, ERROR_ACCESS_DENIED},
        {"target exists", [](sim::Machine& mm, const std::wstring& t) { mm.PutFile(t, "old"); },
         TRUE, ERROR_FILE_EXISTS},
        {"target held",
         [](sim::Machine& mm, const std::wstring& t) {
             mm.PutFile(t, "old");
             mm.HoldOpenByOtherProcess(t);
         },
         FALSE, ERROR_SHARING_VIOLATION},
        {"folder unwritable",
         [](sim::Machine& mm, const std::wstring&) { mm.SetDirectoryWritable(L"C:\\Data", false); },
         FALSE, ERROR_ACCESS_DENIED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m.Reset();
        m.PutFile(source, "new");
        c.arrange(m, target);
        EXPECT_FALSE(CopyFileW(source.c_str(), target.c_str(), c.failIfExists));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(c.error));
        EXPECT_NE(m.FileContent(target), std::optional<std::string>("new"));
    }
    m.Reset();
    EXPECT_FALSE(CopyFileW(L"C:\\missing.ini", L"C:\\copy.ini", FALSE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(m.FileExists(L"C:\\copy.ini"));
}

TEST_F(SimFiles, RenameNeverReplacesAndNeedsDeleteSharing) {
    const std::wstring other = L"C:\\Data\\other.ini";
    m.PutFile(kFile, "new");
    m.PutFile(other, "old");
    EXPECT_FALSE(MoveFileExW(kFile.c_str(), other.c_str(), MOVEFILE_WRITE_THROUGH));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    HANDLE h = Open(kFile, R, SR | SW, OPEN_EXISTING);
    EXPECT_FALSE(MoveFileExW(kFile.c_str(), L"C:\\Data\\moved.ini", 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    CloseHandle(h);
    m.AddDirectory(L"C:\\Data\\sub"); // a directory collides like a file
    EXPECT_FALSE(MoveFileExW(kFile.c_str(), L"C:\\Data\\sub", 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_TRUE(MoveFileExW(kFile.c_str(), L"C:\\Data\\moved.ini", MOVEFILE_WRITE_THROUGH));
    EXPECT_EQ(m.FileContent(L"C:\\Data\\moved.ini"), "new");
    EXPECT_FALSE(m.FileExists(kFile));
}

TEST_F(SimFiles, AnEndedProcessLeavesItsWritesAndAPowerCutOnlyTheFlushedOnes) {
    for (const auto ending : {sim::Machine::Ending::ProcessEnds, sim::Machine::Ending::PowerCut}) {
        const bool powerCut = ending == sim::Machine::Ending::PowerCut;
        SCOPED_TRACE(powerCut ? "power cut" : "process ends");
        SetUp();
        m.PutFile(kFile, "old");
        const std::wstring flushed = L"C:\\Data\\flushed.ini";
        HANDLE h = Open(kFile, R | W, SR | SD, TRUNCATE_EXISTING);
        HANDLE f = Open(flushed, W, 0, CREATE_NEW);
        DWORD count = 0;
        EXPECT_TRUE(WriteFile(h, "cached", 6, &count, nullptr));
        EXPECT_TRUE(WriteFile(f, "kept", 4, &count, nullptr));
        HANDLE r = Open(kFile, R, SR | SW | SD, OPEN_EXISTING);
        EXPECT_FALSE(FlushFileBuffers(r)) << "a flush needs write access";
        CloseHandle(r);
        EXPECT_TRUE(FlushFileBuffers(f));
        EXPECT_TRUE(DeleteFileW(kFile.c_str())); // waits for the handle to close
        // Names are cached like data: a new file and a rename that were never flushed or
        // written through are lost, one written through is kept.
        const std::wstring made = L"C:\\Data\\made.ini";
        CloseHandle(Open(made, W, 0, CREATE_NEW));
        m.PutFile(L"C:\\Data\\a.ini", "a");
        m.PutFile(L"C:\\Data\\c.ini", "c");
        EXPECT_TRUE(MoveFileExW(L"C:\\Data\\a.ini", L"C:\\Data\\b.ini", 0));
        EXPECT_TRUE(MoveFileExW(L"C:\\Data\\c.ini", L"C:\\Data\\d.ini", MOVEFILE_WRITE_THROUGH));
        m.EndBeforeCall(m.PlatformCallCount() + 1, ending);
        CloseHandle(f);
        CloseHandle(h);
        ASSERT_TRUE(m.LeaveEnded());
        EXPECT_EQ(m.FileContent(flushed), "kept");
        EXPECT_EQ(m.OpenFileHandleCount(), 0);
        // A power cut loses the cached bytes and the deletion that waited for the close.
        EXPECT_EQ(m.FileContent(kFile),
                  powerCut ? std::optional<std::string>("old") : std::nullopt);
        EXPECT_EQ(m.FileExists(made), !powerCut);
        EXPECT_EQ(m.FileExists(L"C:\\Data\\a.ini"), powerCut);
        EXPECT_EQ(m.FileExists(L"C:\\Data\\b.ini"), !powerCut);
        EXPECT_TRUE(m.FileExists(L"C:\\Data\\d.ini"));
    }
}

TEST_F(SimFiles, SystemDirectoryFollowsTheBufferSizeRules) {
    const std::wstring expected = L"C:\\Windows\\system32";
    const UINT length = static_cast<UINT>(expected.size());
    WCHAR buffer[64];
    EXPECT_EQ(GetSystemDirectoryW(buffer, 64), length);
    EXPECT_EQ(std::wstring(buffer), expected);
    std::fill(std::begin(buffer), std::end(buffer), L'#');
    EXPECT_EQ(GetSystemDirectoryW(buffer, length), length + 1); // no room for the terminator
    EXPECT_EQ(buffer[0], L'#');
    EXPECT_EQ(GetSystemDirectoryW(buffer, length + 1), length);
    EXPECT_EQ(GetSystemDirectoryW(nullptr, 0), length + 1);
}

} // namespace
