// Profile strings on the simulated machine: Windows' parsing, truncation and writing rules.
#include "platform/win32.h"
#include "sim/machine.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::wstring kIni = L"C:\\Data\\layout.ini";

class SimProfile : public ::testing::Test {
protected:
    void SetUp() override {
        m.Reset();
        m.AddDirectory(L"C:\\Data");
    }

    std::wstring Get(const wchar_t* section, const wchar_t* key, const wchar_t* fallback = L"",
                     DWORD size = 256, DWORD* returned = nullptr) {
        std::wstring buffer(size + 1, L'#');
        const DWORD n =
            GetPrivateProfileStringW(section, key, fallback, buffer.data(), size, kIni.c_str());
        if (returned) {
            *returned = n;
        }
        return buffer.substr(0, n);
    }

    sim::Machine& m = sim::TheMachine();
};

TEST_F(SimProfile, ParsingTrimsMatchesNamesLooselyAndStripsOnePairOfQuotes) {
    m.PutFile(kIni, "; comment=no\r\n"
                    "  [ Layout ]  \r\n"
                    "  Path =  C:\\a b.txt  \r\n"
                    "Double=\"quoted value\"\n"
                    "Single='x'\n"
                    "; Hidden=yes\n"
                    "Mixed=\"x'\n"
                    "Twice=\"\"inner\"\"\n"
                    "Equals=a=b\n"
                    "Path=second wins never\n"
                    "[Other]\n"
                    "Path=other\n"
                    "[layout]\n"
                    "Late=ignored\n");
    struct Case {
        const wchar_t* section;
        const wchar_t* key;
        const wchar_t* expected;
    };
    const Case cases[] = {
        {L"Layout", L"Path", L"C:\\a b.txt"},
        {L"LAYOUT", L"path", L"C:\\a b.txt"},
        {L"  Layout ", L" Path  ", L"C:\\a b.txt"},
        {L"Layout", L"Double", L"quoted value"},
        {L"Layout", L"Single", L"x"},
        {L"Layout", L"Mixed", L"\"x'"},
        {L"Layout", L"Twice", L"\"inner\""},
        {L"Layout", L"Equals", L"a=b"},
        {L"Other", L"Path", L"other"},
        {L"Layout", L"Late", L"dflt"},
        {L"Layout", L"; Hidden", L"dflt"},
        {L"Missing", L"Path", L"dflt"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.section << "/" << c.key);
        EXPECT_EQ(Get(c.section, c.key, L"dflt"), c.expected);
    }
}

TEST_F(SimProfile, ValuesAndDefaultsAreCutToTheBuffer) {
    m.PutFile(kIni, "[S]\nK=abcdef\n");
    struct Case {
        const wchar_t* key;
        const wchar_t* fallback;
        DWORD size;
        const wchar_t* expected;
        DWORD returned;
    };
    const Case cases[] = {
        {L"K", L"", 7, L"abcdef", 6},
        {L"K", L"", 6, L"abcde", 5},
        {L"K", L"", 2, L"a", 1},
        {L"K", L"", 1, L"", 0},
        {L"X", L"dflt  ", 10, L"dflt", 4}, // default loses trailing spaces
        {L"X", L"  dflt", 10, L"  dflt", 6},
        {L"X", L"default", 4, L"def", 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.key << " size " << c.size);
        DWORD returned = 0;
        EXPECT_EQ(Get(L"S", c.key, c.fallback, c.size, &returned), c.expected);
        EXPECT_EQ(returned, c.returned);
    }
    WCHAR untouched[1] = {L'#'};
    EXPECT_EQ(GetPrivateProfileStringW(L"S", L"K", L"", untouched, 0, kIni.c_str()), 0u);
    EXPECT_EQ(untouched[0], L'#');
}

TEST_F(SimProfile, MissingOrLockedFilesGiveTheDefault) {
    EXPECT_EQ(Get(L"S", L"K", L"dflt"), L"dflt");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    m.PutFile(kIni, "[S]\nK=v\n");
    EXPECT_EQ(Get(L"S", L"K", L"dflt"), L"v");
    m.HoldOpenByOtherProcess(kIni);
    EXPECT_EQ(Get(L"S", L"K", L"dflt"), L"dflt");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
}

TEST_F(SimProfile, ABareFileNameMeansTheWindowsDirectory) {
    m.PutFile(L"C:\\Windows\\bare.ini", "[S]\nK=windows\n");
    m.SetCurrentDirectory(L"C:\\Data");
    m.PutFile(L"C:\\Data\\bare.ini", "[S]\nK=current\n");
    WCHAR buffer[32];
    GetPrivateProfileStringW(L"S", L"K", L"", buffer, 32, L"bare.ini");
    EXPECT_STREQ(buffer, L"windows");
    GetPrivateProfileStringW(L"S", L"K", L"", buffer, 32, L".\\bare.ini");
    EXPECT_STREQ(buffer, L"current");
}

TEST_F(SimProfile, ListsSectionsAndKeysDoubleTerminated) {
    m.PutFile(kIni, "[A]\nk1=1\nk2=2\n[B]\n[a]\nk3=3\n");
    DWORD n = 0;
    EXPECT_EQ(Get(nullptr, nullptr, L"", 64, &n), std::wstring(L"A\0B\0", 4));
    EXPECT_EQ(Get(L"A", nullptr, L"", 64, &n), std::wstring(L"k1\0k2\0", 6));
    // Cut lists end with two terminators and report size - 2.
    std::wstring buffer(8, L'#');
    n = GetPrivateProfileStringW(L"A", nullptr, L"", buffer.data(), 6, kIni.c_str());
    EXPECT_EQ(n, 4u);
    EXPECT_EQ(buffer.substr(0, 7), std::wstring(L"k1\0k\0\0#", 7));
}

TEST_F(SimProfile, WritingCreatesAnAnsiFileWithCrlfLines) {
    m.SetClock(42);
    ASSERT_TRUE(WritePrivateProfileStringW(L"Layout", L"Path", L"C:\\x y", kIni.c_str()));
    EXPECT_EQ(m.FileContent(kIni), "[Layout]\r\nPath=C:\\x y\r\n");
    EXPECT_EQ(m.FileAttributes(kIni), FILE_ATTRIBUTE_ARCHIVE);
    EXPECT_EQ(m.FileTimesOf(kIni)->creation, 42u);
    EXPECT_EQ(Get(L"layout", L"PATH"), L"C:\\x y");
}

TEST_F(SimProfile, WritingReplacesInPlaceAndAppendsAtTheEndOfTheSection) {
    m.PutFile(kIni, "; keep\r\n[A]\r\nOne=1\r\nTwo=2\r\n\r\n[B]\r\nX=x\r\n");
    ASSERT_TRUE(WritePrivateProfileStringW(L"a", L"one", L"uno", kIni.c_str()));
    ASSERT_TRUE(WritePrivateProfileStringW(L"A", L"Three", L"3", kIni.c_str()));
    ASSERT_TRUE(WritePrivateProfileStringW(L"C", L"New", L"n", kIni.c_str()));
    EXPECT_EQ(m.FileContent(kIni), "; keep\r\n[A]\r\nOne=uno\r\nTwo=2\r\nThree=3\r\n\r\n"
                                   "[B]\r\nX=x\r\n[C]\r\nNew=n\r\n");
}

TEST_F(SimProfile, NullStringDeletesTheKeyAndNullKeyDeletesTheSection) {
    m.PutFile(kIni, "[A]\r\nOne=1\r\nTwo=2\r\n[B]\r\nX=x\r\n");
    ASSERT_TRUE(WritePrivateProfileStringW(L"A", L"One", nullptr, kIni.c_str()));
    EXPECT_EQ(m.FileContent(kIni), "[A]\r\nTwo=2\r\n[B]\r\nX=x\r\n");
    ASSERT_TRUE(WritePrivateProfileStringW(L"A", nullptr, nullptr, kIni.c_str()));
    EXPECT_EQ(m.FileContent(kIni), "[B]\r\nX=x\r\n");
    ASSERT_TRUE(WritePrivateProfileStringW(L"Z", nullptr, nullptr, L"C:\\Data\\none.ini"));
    EXPECT_FALSE(m.FileExists(L"C:\\Data\\none.ini"));
}

TEST_F(SimProfile, WritingFailsLikeWindows) {
    struct Case {
        const char* name;
        std::wstring file;
        void (*arrange)(sim::Machine&);
        DWORD error;
    };
    const Case cases[] = {
        {"missing folder", L"C:\\Nowhere\\a.ini", [](sim::Machine&) {}, ERROR_PATH_NOT_FOUND},
        {"unwritable folder", kIni,
         [](sim::Machine& mm) { mm.SetDirectoryWritable(L"C:\\Data", false); },
         ERROR_ACCESS_DENIED},
        {"read-only file", kIni,
         [](sim::Machine& mm) { mm.PutFile(kIni, "[S]\r\n", FILE_ATTRIBUTE_READONLY); },
         ERROR_ACCESS_DENIED},
        {"held open", kIni,
         [](sim::Machine& mm) {
             mm.PutFile(kIni, "[S]\r\n");
             mm.HoldOpenByOtherProcess(kIni);
         },
         ERROR_SHARING_VIOLATION},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m.Reset();
        m.AddDirectory(L"C:\\Data");
        c.arrange(m);
        const auto before = m.FileContent(c.file);
        EXPECT_FALSE(WritePrivateProfileStringW(L"S", L"K", L"v", c.file.c_str()));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(c.error));
        EXPECT_EQ(m.FileContent(c.file), before);
    }
}

TEST_F(SimProfile, Utf16FilesAreReadAndStayUtf16) {
    std::string content = "\xFF\xFE";
    for (char c : std::string("[S]\r\nK=v\r\n")) {
        content += c;
        content += '\0';
    }
    m.PutFile(kIni, content);
    EXPECT_EQ(Get(L"S", L"K"), L"v");
    ASSERT_TRUE(WritePrivateProfileStringW(L"S", L"K", L"\x65E5", kIni.c_str()));
    EXPECT_EQ(Get(L"S", L"K"), L"\x65E5");
    EXPECT_EQ(m.FileContent(kIni)->substr(0, 4), std::string("\xFF\xFE[\0", 4));
}

} // namespace
