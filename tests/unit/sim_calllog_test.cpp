// The call log and fault injection: which call fails, how it fails, and that it changes nothing.
#include "platform/win32.h"
#include "sim/machine.h"

#include <gtest/gtest.h>

namespace {

class SimFaults : public ::testing::Test {
protected:
    void SetUp() override { m.Reset(); }
    sim::Machine& m = sim::TheMachine();
};

TEST_F(SimFaults, EveryCallIsLoggedInOrderWithItsTargetAndDetail) {
    m.PutFile(L"C:\\a.txt", "x");
    HANDLE h = CreateFileW(L"C:\\a.txt", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    CloseHandle(h);
    GetLastError();
    ExitWindowsEx(EWX_SHUTDOWN, 0);
    ASSERT_EQ(m.PlatformCallCount(), 3);
    EXPECT_EQ(m.calls[0].function, "CreateFileW");
    EXPECT_EQ(m.calls[0].target, L"C:\\a.txt");
    EXPECT_EQ(m.calls[0].detail, GENERIC_READ);
    EXPECT_EQ(m.calls[1].function, "CloseHandle");
    EXPECT_EQ(m.calls[1].target, L"C:\\a.txt");
    EXPECT_EQ(m.calls[2].function, "ExitWindowsEx");
    EXPECT_EQ(m.calls[2].detail, EWX_SHUTDOWN);
    EXPECT_EQ(m.CallsTo("CloseHandle").size(), 1u);
    EXPECT_TRUE(m.CallsTo("DeleteFileW").empty());
}

TEST_F(SimFaults, TheNthCallCountedFromResetFailsOnlyOnce) {
    m.CreateKey(L"HKLM\\SOFTWARE\\Q");
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Q", 0, KEY_READ, &key), ERROR_SUCCESS);
    RegCloseKey(key);
    m.InjectFault("RegOpenKeyExW", ERROR_ACCESS_DENIED, 2); // the next one: 2nd since Reset
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Q", 0, KEY_READ, &key),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(key, nullptr);
    EXPECT_EQ(m.OpenKeyCount(), 0);
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Q", 0, KEY_READ, &key), ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(m.CallsTo("RegOpenKeyExW").size(), 3u);
}

TEST_F(SimFaults, EveryCallFailsWithNthZeroUntilCleared) {
    m.PutFile(L"C:\\a.txt", "x");
    m.InjectFault("GetFileAttributesW", ERROR_ACCESS_DENIED);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(GetFileAttributesW(L"C:\\a.txt"), INVALID_FILE_ATTRIBUTES);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    }
    m.ClearFaults();
    EXPECT_EQ(GetFileAttributesW(L"C:\\a.txt"), FILE_ATTRIBUTE_ARCHIVE);
}

TEST_F(SimFaults, FaultedCallsFailTheWayEachFunctionFailsAndChangeNothing) {
    m.PutFile(L"C:\\a.txt", "x");
    m.CreateKey(L"HKLM\\SOFTWARE\\Q");
    m.PutFile(L"C:\\Windows\\system32\\fsutil.exe", "MZ");
    const DWORD e = ERROR_DISK_FULL;

    m.InjectFault("CreateFileW", e, 1);
    EXPECT_EQ(CreateFileW(L"C:\\b.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), e);
    EXPECT_FALSE(m.FileExists(L"C:\\b.txt"));

    m.InjectFault("CopyFileW", e, 1);
    EXPECT_FALSE(CopyFileW(L"C:\\a.txt", L"C:\\c.txt", FALSE));
    EXPECT_EQ(GetLastError(), e);
    EXPECT_FALSE(m.FileExists(L"C:\\c.txt"));

    m.InjectFault("DeleteFileW", e, 1);
    EXPECT_FALSE(DeleteFileW(L"C:\\a.txt"));
    EXPECT_TRUE(m.FileExists(L"C:\\a.txt"));

    m.InjectFault("WritePrivateProfileStringW", e, 1);
    EXPECT_FALSE(WritePrivateProfileStringW(L"S", L"K", L"v", L"C:\\p.ini"));
    EXPECT_FALSE(m.FileExists(L"C:\\p.ini"));

    m.InjectFault("GetPrivateProfileStringW", e, 1);
    WCHAR buffer[16];
    EXPECT_EQ(GetPrivateProfileStringW(L"S", L"K", L"dflt", buffer, 16, L"C:\\p.ini"), 4u);
    EXPECT_STREQ(buffer, L"dflt");
    EXPECT_EQ(GetLastError(), e);

    m.InjectFault("RegSetValueExW", ERROR_CANTWRITE, 1);
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Q", 0, KEY_WRITE, &key), ERROR_SUCCESS);
    const DWORD one = 1;
    EXPECT_EQ(RegSetValueExW(key, L"V", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4),
              ERROR_CANTWRITE);
    EXPECT_FALSE(m.Value(L"HKLM\\SOFTWARE\\Q", L"V").has_value());
    RegCloseKey(key);

    m.InjectFault("ShellExecuteExW", ERROR_ACCESS_DENIED, 1);
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.lpFile = L"fsutil.exe";
    EXPECT_FALSE(ShellExecuteExW(&info));
    EXPECT_TRUE(m.launches.empty());
    EXPECT_EQ(m.messageBoxes.size(), 1u) << "the shell's error box, as for any failed launch";
    m.messageBoxes.clear();

    m.InjectFault("ExitWindowsEx", ERROR_SHUTDOWN_IN_PROGRESS, 1);
    EXPECT_FALSE(ExitWindowsEx(EWX_REBOOT, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHUTDOWN_IN_PROGRESS));
    EXPECT_TRUE(m.exitRequests.empty());

    m.InjectFault("MessageBoxW", ERROR_NOT_ENOUGH_MEMORY, 1);
    EXPECT_EQ(MessageBoxW(nullptr, L"t", L"c", MB_OK), 0);
    EXPECT_TRUE(m.messageBoxes.empty());

    m.InjectFault("GetModuleFileNameW", e, 1);
    EXPECT_EQ(GetModuleFileNameW(nullptr, buffer, 16), 0u);
}

TEST_F(SimFaults, AdjustTokenPrivilegesFailsBySucceedingWithNotAllAssigned) {
    HANDLE token = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token));
    TOKEN_PRIVILEGES privileges{1, {{{19, 0}, SE_PRIVILEGE_ENABLED}}};
    m.InjectFault("AdjustTokenPrivileges", ERROR_NOT_ALL_ASSIGNED, 1);
    EXPECT_TRUE(AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ALL_ASSIGNED));
    m.InjectFault("AdjustTokenPrivileges", ERROR_ACCESS_DENIED, 2);
    EXPECT_FALSE(AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    CloseHandle(token);
}

TEST_F(SimFaults, AFaultedCloseStillReleasesTheHandle) {
    m.PutFile(L"C:\\a.txt", "x");
    m.CreateKey(L"HKLM\\SOFTWARE\\Q");
    HANDLE h = CreateFileW(L"C:\\a.txt", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Q", 0, KEY_READ, &key), ERROR_SUCCESS);
    m.InjectFault("CloseHandle", ERROR_ACCESS_DENIED);
    m.InjectFault("RegCloseKey", ERROR_ACCESS_DENIED);
    EXPECT_FALSE(CloseHandle(h));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(RegCloseKey(key), ERROR_ACCESS_DENIED);
    EXPECT_EQ(m.OpenFileHandleCount(), 0);
    EXPECT_EQ(m.OpenKeyCount(), 0);
    // The file is free again for an exclusive open.
    m.ClearFaults();
    h = CreateFileW(L"C:\\a.txt", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(CloseHandle(h));
}

TEST_F(SimFaults, ResetForgetsFaultsLogsAndCounts) {
    m.InjectFault("DeleteFileW", ERROR_ACCESS_DENIED, 1);
    m.messageBoxAnswers = {IDYES};
    m.tokenOpens = false;
    DeleteFileW(L"C:\\x");
    m.Reset();
    EXPECT_EQ(m.PlatformCallCount(), 0);
    EXPECT_TRUE(m.messageBoxAnswers.empty());
    EXPECT_TRUE(m.tokenOpens);
    m.PutFile(L"C:\\x", "");
    EXPECT_TRUE(DeleteFileW(L"C:\\x"));
}

} // namespace
