#include "engine_fixture.h"

#include "fw/file.h"
#include "fw/message_box.h"

namespace {

const std::wstring kDir = L"C:\\data";
const std::wstring kPath = L"C:\\data\\f.bin";

class FileTest : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        machine().AddDirectory(kDir);
    }
};

TEST_F(FileTest, WritesAndReadsBackWithoutSharing) {
    {
        CFile file;
        ASSERT_TRUE(file.Open(kPath.c_str(), CFile::modeCreate | CFile::modeWrite));
        CFile other;
        EXPECT_FALSE(other.Open(kPath.c_str(), CFile::modeRead)) << "opened without sharing";
        file.Write("hello", 5);
        file.Write("", 0);
        file.Close();
        EXPECT_FALSE(file.IsOpen());
    }
    CFile file;
    ASSERT_TRUE(file.Open(kPath.c_str(), CFile::modeRead));
    char buffer[8] = {};
    EXPECT_EQ(file.Read(buffer, sizeof(buffer)), 5u);
    EXPECT_EQ(std::string(buffer), "hello");
    EXPECT_EQ(file.Read(buffer, sizeof(buffer)), 0u);
}

TEST_F(FileTest, CreateEmptiesAnExistingFileAndOpenFailsOnAMissingOne) {
    machine().PutFile(kPath, "old content");
    CFile file;
    ASSERT_TRUE(file.Open(kPath.c_str(), CFile::modeCreate | CFile::modeWrite));
    file.Close();
    EXPECT_EQ(machine().FileContent(kPath), "");
    CFile missing;
    EXPECT_FALSE(missing.Open(L"C:\\data\\none", CFile::modeRead));
    EXPECT_THROW(missing.Read(nullptr, 1), CFileException);
    // A failed open leaves its own error, not that of the look at the name that decided not to
    // wait.
    machine().SetDirectoryWritable(kDir, false);
    EXPECT_FALSE(missing.Open(L"C:\\data\\new", CFile::modeCreate | CFile::modeWrite));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST_F(FileTest, ErrorsBecomeExceptionsWithTheirCause) {
    machine().PutFile(kPath, "abc");
    // Another program's byte-range lock for a moment is waited out, by writes and reads alike.
    {
        CFile shared;
        ASSERT_TRUE(shared.Open(kPath.c_str(), CFile::modeReadWrite | CFile::shareDenyNone));
        machine().HoldFile(kPath, sim::Machine::Hold::Lock, 2500000);
        shared.Write("x", 1);
        machine().HoldFile(kPath, sim::Machine::Hold::Lock, 2500000);
        char rest[4] = {};
        EXPECT_EQ(shared.Read(rest, 3), 2u);
        EXPECT_EQ(std::string(rest), "bc");
        EXPECT_FALSE(machine().refusedByOtherPrograms.empty()) << "the locks were met";
    }
    CFile file;
    ASSERT_TRUE(file.Open(kPath.c_str(), CFile::modeRead));
    machine().InjectFault("ReadFile", ERROR_LOCK_VIOLATION);
    char buffer[4];
    try {
        file.Read(buffer, 4);
        ADD_FAILURE() << "no exception";
    } catch (const CFileException& e) {
        EXPECT_EQ(e.m_cause, CFileException::lockViolation);
        EXPECT_EQ(e.m_strFileName, kPath);
    }
    machine().InjectFault("CloseHandle", ERROR_INVALID_HANDLE);
    EXPECT_THROW(file.Close(), CFileException);
    EXPECT_FALSE(file.IsOpen()) << "a failed close does not leave a handle to close twice";
}

TEST_F(FileTest, StatusHasWholeSecondsAndStoresTimesAroundTheReadOnlyBit) {
    machine().PutFile(kPath, "12345", FILE_ATTRIBUTE_ARCHIVE);
    // 2020-01-01 00:00:00.5 UTC and one day later.
    machine().SetFileTimes(kPath,
                           {132223104005000000ULL, 132223104005000000ULL, 132223968005000000ULL});
    CFileStatus status;
    ASSERT_TRUE(CFile::GetStatus(kPath.c_str(), status));
    EXPECT_EQ(status.m_ctime, 1577836800);
    EXPECT_EQ(status.m_mtime, 1577836800 + 86400);
    EXPECT_EQ(status.m_size, 5u);
    EXPECT_EQ(status.m_attribute, FILE_ATTRIBUTE_ARCHIVE);

    status.m_mtime += 60;
    status.m_attribute |= CFile::readOnly;
    CFile::SetStatus(kPath.c_str(), status);
    EXPECT_EQ(machine().FileAttributes(kPath), FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(machine().FileTimesOf(kPath)->lastWrite, 132223968000000000ULL + 600000000ULL);

    status.m_mtime -= 120;
    status.m_attribute = FILE_ATTRIBUTE_ARCHIVE;
    CFile::SetStatus(kPath.c_str(), status);
    EXPECT_EQ(machine().FileAttributes(kPath), FILE_ATTRIBUTE_ARCHIVE);
    EXPECT_EQ(machine().FileTimesOf(kPath)->lastWrite, 132223968000000000ULL - 600000000ULL);
}

TEST_F(FileTest, StatusOfAMissingFileCannotBeStored) {
    CFileStatus status;
    EXPECT_FALSE(CFile::GetStatus(L"C:\\data\\gone", status));
    try {
        CFile::SetStatus(L"C:\\data\\gone", status);
        ADD_FAILURE() << "no exception";
    } catch (const CFileException& e) {
        EXPECT_EQ(e.m_cause, CFileException::fileNotFound);
    }
}

TEST_F(FileTest, ReportErrorShowsTheFrameworksBoxNamingTheFile) {
    const CFileException error(CFileException::diskFull, ERROR_DISK_FULL, L"Layout_back.ini");
    error.ReportError();
    ASSERT_EQ(machine().messageBoxes.size(), 1u);
    EXPECT_NE(machine().messageBoxes[0].text.find(L"Layout_back.ini"), std::wstring::npos);
    EXPECT_EQ(machine().messageBoxes[0].caption, AfxGetAppName());
    EXPECT_EQ(machine().messageBoxes[0].type, MB_OK | MB_ICONEXCLAMATION);
}

} // namespace
