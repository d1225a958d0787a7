// The Windows behaviour the product and its end-to-end tests rely on, checked in the real Wine
// they run under. When one of these fails, the test environment (prefix, user, Wine version)
// no longer behaves like Windows, and the product's tests there would prove nothing.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

class Key {
public:
    Key() = default;
    explicit Key(HKEY h) : h_(h) {}
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    Key(Key&& o) noexcept : h_(std::exchange(o.h_, nullptr)) {}
    ~Key() {
        if (h_)
            RegCloseKey(h_);
    }
    HKEY get() const { return h_; }
    HKEY* put() { return &h_; }

private:
    HKEY h_ = nullptr;
};

class Handle {
public:
    explicit Handle(HANDLE h) : h_(h) {}
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() {
        if (valid())
            CloseHandle(h_);
    }
    bool valid() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
    HANDLE get() const { return h_; }

private:
    HANDLE h_;
};

std::wstring UniqueName() {
    return L"qm_wine_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
           std::to_wstring(GetTickCount64());
}

bool WriteWholeFile(const std::wstring& path, const std::string& bytes) {
    Handle h(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h.valid())
        return false;
    DWORD written = 0;
    return WriteFile(h.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

std::string ReadWholeFile(const std::wstring& path) {
    Handle h(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h.valid())
        return "<cannot open>";
    std::string out;
    char buf[4096];
    DWORD got = 0;
    while (ReadFile(h.get(), buf, sizeof buf, &got, nullptr) && got > 0)
        out.append(buf, got);
    return out;
}

// Every test works in a fresh directory of its own under the temp folder and removes it.
class TempDirTest : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t tmp[MAX_PATH + 1];
        const DWORD n = GetTempPathW(MAX_PATH + 1, tmp);
        ASSERT_GT(n, 0u);
        ASSERT_LE(n, static_cast<DWORD>(MAX_PATH));
        dir_ = std::wstring(tmp, n) + UniqueName();
        ASSERT_TRUE(CreateDirectoryW(dir_.c_str(), nullptr)) << GetLastError();
    }
    void TearDown() override {
        if (!dir_.empty())
            RemoveTree(dir_);
    }
    std::wstring Path(const wchar_t* name) const { return dir_ + L"\\" + name; }

private:
    static void RemoveTree(const std::wstring& dir) {
        WIN32_FIND_DATAW fd;
        HANDLE f = FindFirstFileW((dir + L"\\*").c_str(), &fd);
        if (f != INVALID_HANDLE_VALUE) {
            do {
                const std::wstring name = fd.cFileName;
                if (name == L"." || name == L"..")
                    continue;
                const std::wstring p = dir + L"\\" + name;
                if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                    RemoveTree(p);
                } else {
                    SetFileAttributesW(p.c_str(), FILE_ATTRIBUTE_NORMAL);
                    DeleteFileW(p.c_str());
                }
            } while (FindNextFileW(f, &fd));
            FindClose(f);
        }
        RemoveDirectoryW(dir.c_str());
    }

    std::wstring dir_;
};

// ---------------------------------------------------------------------------------------------
// Registry: HKLM is writable in the prefix, values come back typed, errors are Windows' codes.

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        path_ = L"Software\\QuillmarshWineTest\\" + UniqueName();
        DWORD disposition = 0;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path_.c_str(), 0, nullptr,
                                  REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE, nullptr,
                                  key_.put(), &disposition),
                  ERROR_SUCCESS);
        EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
    }
    void TearDown() override {
        Key parent;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software", 0, KEY_ALL_ACCESS, parent.put()) ==
            ERROR_SUCCESS) {
            RegDeleteTreeW(parent.get(), L"QuillmarshWineTest");
        }
    }

    std::wstring path_;
    Key key_;
};

TEST_F(RegistryTest, DwordWrittenToHklmReadsBackWithTypeFromAFreshHandle) {
    const DWORD value = 0xC0FFEE02;
    ASSERT_EQ(RegSetValueExW(key_.get(), L"EnablePrefetcher", 0, REG_DWORD,
                             reinterpret_cast<const BYTE*>(&value), sizeof value),
              ERROR_SUCCESS);
    ASSERT_EQ(RegFlushKey(key_.get()), ERROR_SUCCESS);

    Key reopened;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, path_.c_str(), 0, KEY_READ, reopened.put()),
              ERROR_SUCCESS);
    DWORD type = REG_NONE;
    DWORD data = 0;
    DWORD size = sizeof data;
    ASSERT_EQ(RegQueryValueExW(reopened.get(), L"EnablePrefetcher", nullptr, &type,
                               reinterpret_cast<BYTE*>(&data), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(size, static_cast<DWORD>(sizeof(DWORD)));
    EXPECT_EQ(data, value);
}

TEST_F(RegistryTest, StringReadsBackWithTerminatorAndType) {
    const std::wstring text = L"\u81EA\u52D5 Start 2"; // non-ASCII must survive as UTF-16
    const DWORD bytes = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
    ASSERT_EQ(RegSetValueExW(key_.get(), L"Name", 0, REG_SZ,
                             reinterpret_cast<const BYTE*>(text.c_str()), bytes),
              ERROR_SUCCESS);

    DWORD type = REG_NONE;
    wchar_t buf[64] = {};
    DWORD size = sizeof buf;
    ASSERT_EQ(
        RegQueryValueExW(key_.get(), L"Name", nullptr, &type, reinterpret_cast<BYTE*>(buf), &size),
        ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(size, bytes);
    EXPECT_EQ(std::wstring(buf), text);
}

TEST_F(RegistryTest, MissingValueIsFileNotFound) {
    DWORD type = REG_NONE;
    DWORD data = 0;
    DWORD size = sizeof data;
    EXPECT_EQ(RegQueryValueExW(key_.get(), L"NoSuchValue", nullptr, &type,
                               reinterpret_cast<BYTE*>(&data), &size),
              ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryTest, MissingKeyIsFileNotFound) {
    Key missing;
    const std::wstring path = path_ + L"\\NoSuchKey";
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, missing.put()),
              ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryTest, TooSmallBufferIsMoreDataAndReportsTheNeededSize) {
    const std::wstring text = L"a value longer than four bytes";
    const DWORD bytes = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
    ASSERT_EQ(RegSetValueExW(key_.get(), L"Long", 0, REG_SZ,
                             reinterpret_cast<const BYTE*>(text.c_str()), bytes),
              ERROR_SUCCESS);

    BYTE small[4] = {};
    DWORD size = sizeof small;
    DWORD type = REG_NONE;
    EXPECT_EQ(RegQueryValueExW(key_.get(), L"Long", nullptr, &type, small, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, bytes);
}

TEST_F(RegistryTest, WriteThroughReadOnlyHandleIsAccessDenied) {
    Key read_only;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, path_.c_str(), 0, KEY_READ, read_only.put()),
              ERROR_SUCCESS);
    const DWORD value = 1;
    EXPECT_EQ(RegSetValueExW(read_only.get(), L"Denied", 0, REG_DWORD,
                             reinterpret_cast<const BYTE*>(&value), sizeof value),
              ERROR_ACCESS_DENIED);
    DWORD size = sizeof(DWORD);
    DWORD data = 0;
    EXPECT_EQ(RegQueryValueExW(key_.get(), L"Denied", nullptr, nullptr,
                               reinterpret_cast<BYTE*>(&data), &size),
              ERROR_FILE_NOT_FOUND);
}

// ---------------------------------------------------------------------------------------------
// Profile (.ini) files: the product keeps the first state it found in one.

using ProfileTest = TempDirTest;

TEST_F(ProfileTest, WrittenValueReadsBackAndMissingKeyGivesTheDefault) {
    const std::wstring ini = Path(L"settings.ini");
    ASSERT_TRUE(WritePrivateProfileStringW(L"Initial", L"Prefetch", L"3", ini.c_str()));
    ASSERT_TRUE(WritePrivateProfileStringW(L"Initial", L"Trim", L"0", ini.c_str()));

    wchar_t buf[32] = {};
    EXPECT_EQ(GetPrivateProfileStringW(L"Initial", L"Prefetch", L"x", buf, 32, ini.c_str()), 1u);
    EXPECT_STREQ(buf, L"3");
    EXPECT_EQ(GetPrivateProfileStringW(L"Initial", L"Trim", L"x", buf, 32, ini.c_str()), 1u);
    EXPECT_STREQ(buf, L"0");
    EXPECT_EQ(GetPrivateProfileStringW(L"Initial", L"Missing", L"dflt", buf, 32, ini.c_str()), 4u);
    EXPECT_STREQ(buf, L"dflt");
    EXPECT_EQ(GetPrivateProfileIntW(L"Initial", L"Prefetch", -1, ini.c_str()), 3u);

    // Written as plain text with Windows line ends.
    const std::string content = ReadWholeFile(ini);
    EXPECT_NE(content.find("[Initial]\r\n"), std::string::npos) << content;
    EXPECT_NE(content.find("Prefetch=3\r\n"), std::string::npos) << content;
}

TEST_F(ProfileTest, ValuesAreTrimmedAndOnePairOfQuotesStripped) {
    const std::wstring ini = Path(L"hand.ini");
    ASSERT_TRUE(WriteWholeFile(ini, "[S]\r\n  Spaced  =  two words  \r\nQuoted=\"q v\"\r\n"));

    wchar_t buf[32] = {};
    EXPECT_EQ(GetPrivateProfileStringW(L"S", L"Spaced", L"", buf, 32, ini.c_str()), 9u);
    EXPECT_STREQ(buf, L"two words");
    EXPECT_EQ(GetPrivateProfileStringW(L"S", L"Quoted", L"", buf, 32, ini.c_str()), 3u);
    EXPECT_STREQ(buf, L"q v");
}

TEST_F(ProfileTest, LongValueIsTruncatedToBufferMinusOne) {
    const std::wstring ini = Path(L"long.ini");
    ASSERT_TRUE(WritePrivateProfileStringW(L"S", L"K", L"abcdefgh", ini.c_str()));
    wchar_t buf[5] = {L'#', L'#', L'#', L'#', L'#'};
    EXPECT_EQ(GetPrivateProfileStringW(L"S", L"K", L"", buf, 5, ini.c_str()), 4u);
    EXPECT_STREQ(buf, L"abcd");
}

TEST_F(ProfileTest, MissingFileGivesTheDefault) {
    const std::wstring ini = Path(L"absent.ini");
    wchar_t buf[16] = {};
    EXPECT_EQ(GetPrivateProfileStringW(L"S", L"K", L"none", buf, 16, ini.c_str()), 4u);
    EXPECT_STREQ(buf, L"none");
    EXPECT_EQ(GetFileAttributesW(ini.c_str()), INVALID_FILE_ATTRIBUTES);
}

// ---------------------------------------------------------------------------------------------
// Files: the read-only and sharing rules. Under Wine these hold only for an unprivileged user.

using FileRulesTest = TempDirTest;

TEST_F(FileRulesTest, ReadOnlyFileCannotBeDeletedOverwrittenOrOpenedForWriting) {
    const std::wstring ro = Path(L"layout.ini");
    const std::wstring other = Path(L"other.ini");
    ASSERT_TRUE(WriteWholeFile(ro, "original"));
    ASSERT_TRUE(WriteWholeFile(other, "replacement"));
    ASSERT_TRUE(SetFileAttributesW(ro.c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_NE(GetFileAttributesW(ro.c_str()) & FILE_ATTRIBUTE_READONLY, 0u);

    SetLastError(0);
    EXPECT_FALSE(DeleteFileW(ro.c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

    SetLastError(0);
    EXPECT_FALSE(CopyFileW(other.c_str(), ro.c_str(), FALSE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

    SetLastError(0);
    Handle w(CreateFileW(ro.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_FALSE(w.valid());
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

    EXPECT_EQ(ReadWholeFile(ro), "original");

    // Once the attribute is cleared the same operations work again.
    ASSERT_TRUE(SetFileAttributesW(ro.c_str(), FILE_ATTRIBUTE_NORMAL));
    EXPECT_TRUE(CopyFileW(other.c_str(), ro.c_str(), FALSE)) << GetLastError();
    EXPECT_EQ(ReadWholeFile(ro), "replacement");
    EXPECT_TRUE(DeleteFileW(ro.c_str())) << GetLastError();
    EXPECT_EQ(GetFileAttributesW(ro.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(FileRulesTest, CopyOntoExistingFileWithFailIfExistsIsFileExists) {
    const std::wstring a = Path(L"a.txt");
    const std::wstring b = Path(L"b.txt");
    ASSERT_TRUE(WriteWholeFile(a, "A"));
    ASSERT_TRUE(WriteWholeFile(b, "B"));
    SetLastError(0);
    EXPECT_FALSE(CopyFileW(a.c_str(), b.c_str(), TRUE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
    EXPECT_EQ(ReadWholeFile(b), "B");
}

TEST_F(FileRulesTest, FileOpenedWithoutSharingCannotBeOpenedAgain) {
    const std::wstring path = Path(L"locked.txt");
    ASSERT_TRUE(WriteWholeFile(path, "data"));

    Handle exclusive(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(exclusive.valid()) << GetLastError();

    SetLastError(0);
    Handle reader(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_FALSE(reader.valid());
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));

    SetLastError(0);
    EXPECT_FALSE(DeleteFileW(path.c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
}

TEST_F(FileRulesTest, FileSharedForReadingCanBeOpenedByASecondReader) {
    const std::wstring path = Path(L"shared.txt");
    ASSERT_TRUE(WriteWholeFile(path, "data"));

    Handle first(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(first.valid()) << GetLastError();
    Handle second(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_TRUE(second.valid()) << GetLastError();

    // A writer is still refused: the first handle did not share writing.
    SetLastError(0);
    Handle writer(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_FALSE(writer.valid());
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
}

// The users run Japanese Windows. Without the glibc locale Wine falls back to English without a
// word, and every test here would then run in a code page the users never have.
TEST(LocaleTest, WineRunsInTheJapaneseCodePageAndLanguage) {
    EXPECT_EQ(GetACP(), 932u);
    EXPECT_EQ(PRIMARYLANGID(GetUserDefaultUILanguage()), LANG_JAPANESE);
}

} // namespace
