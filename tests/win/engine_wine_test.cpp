// The engine compiled for Windows against the real Wine registry and profile functions: the same
// readings and files the host tests expect from the simulated machine.
#include "engine/layout_file.h"
#include "engine/settings_engine.h"
#include "fw/file.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>

namespace {

using Values = std::array<std::int32_t, kSettingCount>;

const wchar_t* const kTouchedKeys[] = {
    regkey::kOptimalLayout,      regkey::kWSearch,   regkey::kCisvc, regkey::kSysMain,
    regkey::kPrefetchParameters, regkey::kFileSystem};

// Each test starts and ends with none of the program's values in the prefix's registry.
class WineRegistryTest : public ::testing::Test {
protected:
    void SetUp() override { RemoveValues(); }
    void TearDown() override { RemoveValues(); }
    static void RemoveValues() {
        for (const wchar_t* key : kTouchedKeys) {
            RegDeleteTreeW(HKEY_LOCAL_MACHINE, key);
        }
    }
    static void PutDword(const wchar_t* key, const wchar_t* name, DWORD value) {
        ASSERT_EQ(RegSetKeyValueW(HKEY_LOCAL_MACHINE, key, name, REG_DWORD, &value, sizeof(value)),
                  ERROR_SUCCESS);
    }
    static void PutString(const wchar_t* key, const wchar_t* name, const std::wstring& text) {
        ASSERT_EQ(RegSetKeyValueW(HKEY_LOCAL_MACHINE, key, name, REG_SZ, text.c_str(),
                                  static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))),
                  ERROR_SUCCESS);
    }
};

SettingValues ReadAs(int win7, int vista) {
    SettingsEngine engine;
    engine.m_bWin7 = win7;
    engine.m_bVista = vista;
    engine.ReadCurrentSettings();
    return engine.m_nCurrent;
}

TEST_F(WineRegistryTest, DetectsTheGenerationThePrefixReports) {
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof(info);
    ASSERT_TRUE(GetVersionExW(&info));
    SettingsEngine engine;
    engine.DetectOsVersion();
    EXPECT_EQ(engine.m_bWin7, info.dwMajorVersion == 6 && info.dwMinorVersion >= 1 ? 1 : 0);
    EXPECT_EQ(engine.m_bVista, info.dwMajorVersion == 6 && info.dwMinorVersion == 0 ? 1 : 0);
}

TEST_F(WineRegistryTest, AbsentValuesTakeTheFallbacks) {
    EXPECT_EQ(ReadAs(0, 0), (Values{1, 2, 0, 3, -1, 1}));
    EXPECT_EQ(ReadAs(0, 1), (Values{0, 2, 3, 3, 2, 1}));
    EXPECT_EQ(ReadAs(1, 0), (Values{0, 2, 3, 3, 2, 1}));
}

TEST_F(WineRegistryTest, StoredValuesAndOddTypes) {
    PutDword(regkey::kOptimalLayout, L"EnableAutoLayout", 5);
    PutDword(regkey::kWSearch, L"Start", 4);
    PutDword(regkey::kCisvc, L"Start", 3);
    PutDword(regkey::kPrefetchParameters, L"EnableSuperfetch", 0);
    PutDword(regkey::kPrefetchParameters, L"EnablePrefetcher", 2);
    PutString(regkey::kSysMain, L"Start", L"4");
    PutDword(regkey::kFileSystem, L"DisableDeleteNotification", 0xFFFFFFFFu);
    EXPECT_EQ(ReadAs(0, 0), (Values{5, 3, 0, 2, -1, 1}));
    EXPECT_EQ(ReadAs(1, 0), (Values{5, 4, 0, 2, 2, 1}));
}

TEST_F(WineRegistryTest, AppliedValuesLandInTheRegistry) {
    struct AllOff : Selection {
        bool AutoDefragOn() const override { return false; }
        bool IndexOn() const override { return false; }
        bool SuperFetchOn() const override { return true; }
        bool PreFetchOn() const override { return false; }
        bool TrimOn() const override { return false; }
    } selection;
    SettingsEngine engine;
    engine.m_bVista = 1; // NT 6 without the TRIM tool
    engine.m_nInitial[SysMain] = 3;
    CFile layout;
    CFile copy;
    engine.ApplySettings(selection, layout, copy);
    EXPECT_EQ(ReadAs(0, 1), (Values{0, 4, 3, 0, 3, 1}));
}

// --- Profile file: run a copy of this program named Quillmarsh.exe in a folder of its own, so
// the profile lands beside it as it does beside the product.

// Temp paths here are ASCII, so a plain narrowing copy names the same file.
std::string Narrow(const std::wstring& path) {
    return std::string(path.begin(), path.end());
}

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

TEST(ProfileChild, LoadInitialSettings) {
    const std::string result = Env("QM_PROFILE_RESULT");
    if (result.empty()) {
        GTEST_SKIP() << "runs only as the child of the profile tests";
    }
    SettingsEngine engine;
    engine.m_nCurrent = {1, 2, 0, 3, -1, 1};
    engine.LoadInitialSettings();
    std::ofstream out(result);
    for (const std::int32_t value : engine.m_nInitial) {
        out << value << ' ';
    }
}

// A folder of its own at the drive's root: the temporary folder keeps no snapshot.
class WineProfileTest : public ::testing::Test {
protected:
    void SetUp() override { Install(L"C:\\qm-profile-"); }
    void TearDown() override { Remove(); }
    // The copy in a new folder named `prefix`, this process's id and `suffix`.
    void Install(const std::wstring& prefix, const std::wstring& suffix = L"") {
        folder_ = prefix + std::to_wstring(GetCurrentProcessId()) + suffix;
        CreateDirectoryW(folder_.c_str(), nullptr);
        wchar_t self[MAX_PATH] = {};
        GetModuleFileNameW(nullptr, self, MAX_PATH);
        ASSERT_TRUE(CopyFileW(self, Exe().c_str(), FALSE));
    }
    void Remove() const {
        DeleteFileW(Exe().c_str());
        DeleteFileW(Profile().c_str());
        DeleteFileW((folder_ + L"\\result.txt").c_str());
        RemoveDirectoryW(folder_.c_str());
    }
    std::wstring Exe() const { return folder_ + L"\\Quillmarsh.exe"; }
    std::wstring Profile() const { return folder_ + L"\\Quillmarsh.ini"; }

    // Runs the child and returns the initial values it loaded.
    Values RunChild() const {
        const std::wstring result = folder_ + L"\\result.txt";
        SetEnvironmentVariableW(L"QM_PROFILE_RESULT", result.c_str());
        std::wstring command = L"\"" + Exe() + L"\" --gtest_filter=ProfileChild.*";
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION process{};
        Values values{};
        values.fill(12345);
        const BOOL started = CreateProcessW(Exe().c_str(), command.data(), nullptr, nullptr, FALSE,
                                            0, nullptr, nullptr, &startup, &process);
        SetEnvironmentVariableW(L"QM_PROFILE_RESULT", nullptr);
        EXPECT_TRUE(started);
        if (!started) {
            return values;
        }
        WaitForSingleObject(process.hProcess, INFINITE);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        std::ifstream in(Narrow(result));
        for (std::int32_t& value : values) {
            in >> value;
        }
        return values;
    }
    std::string ProfileBytes() const {
        std::ifstream in(Narrow(Profile()), std::ios::binary);
        std::ostringstream bytes;
        bytes << in.rdbuf();
        return bytes.str();
    }
    void PutProfile(const std::string& bytes) const {
        std::ofstream(Narrow(Profile()), std::ios::binary) << bytes;
    }

    std::wstring folder_;
};

TEST_F(WineProfileTest, FirstRunWritesTheFileAndTheSecondReadsIt) {
    EXPECT_EQ(RunChild(), (Values{1, 2, 0, 3, -1, 1}));
    EXPECT_EQ(
        ProfileBytes(),
        "[AutoDefrag]\r\nDefValue=1\r\n[Index]\r\nDefValue=2\r\n[SuperFetch]\r\nDefValue=0\r\n"
        "[SysMain]\r\nDefValue=-1\r\n[PreFetch]\r\nDefValue=3\r\n[Trim]\r\nDefValue=1\r\n");

    ASSERT_TRUE(WritePrivateProfileStringW(L"Index", L"DefValue", L"3", Profile().c_str()));
    EXPECT_EQ(RunChild(), (Values{1, 3, 0, 3, -1, 1}));
}

// Inside the user's temporary folder, or a folder named as Explorer names the one it extracts a
// zip into, the first run saves nothing; a snapshot already there is still read.
TEST_F(WineProfileTest, NoSnapshotIsSavedInATemporaryFolder) {
    wchar_t temp[MAX_PATH + 1] = {};
    ASSERT_NE(GetTempPathW(MAX_PATH + 1, temp), 0u);
    const std::pair<std::wstring, std::wstring> folders[] = {
        {std::wstring(temp) + L"qm-profile-", L""}, {L"C:\\Temp1_qm-profile-", L".zip"}};
    for (const auto& [prefix, suffix] : folders) {
        Remove();
        Install(prefix, suffix);
        SCOPED_TRACE(Narrow(folder_));
        EXPECT_EQ(RunChild(), (Values{1, 2, 0, 3, -1, 1}));
        EXPECT_EQ(GetFileAttributesW(Profile().c_str()), INVALID_FILE_ATTRIBUTES);
        EXPECT_EQ(GetFileAttributesW((folder_ + L"\\Quillmarsh.tmp").c_str()),
                  INVALID_FILE_ATTRIBUTES);
        PutProfile("[Index]\r\nDefValue=4\r\n");
        EXPECT_EQ(RunChild(), (Values{0, 4, 0, 0, 0, 0}));
    }
}

TEST_F(WineProfileTest, OddContentReadsAsOnTheSimulatedMachine) {
    PutProfile("[autodefrag]\r\n  DEFVALUE = 2x \r\n[Index]\r\nDefValue=\"3\"\r\n[SuperFetch]\r\n"
               "DefValue=99999999999\r\n[SysMain]\r\nDefValue=-2147483649\r\n[PreFetch]\r\n"
               "DefValue=abc\r\n[Trim]\r\nDefValue=" +
               std::string(700, '1') + "\r\n");
    EXPECT_EQ(RunChild(), (Values{2, 3, 2147483647, 0, -2147483647 - 1, 2147483647}));

    PutProfile("");
    EXPECT_EQ(RunChild(), (Values{0, 0, 0, 0, 0, 0}));
}

} // namespace
