// Launching programs, the shutdown privilege dance, message boxes, strings, version and module.
#include "platform/win32.h"
#include "sim/machine.h"

#include <gtest/gtest.h>

#include <string>

namespace {

class SimProcess : public ::testing::Test {
protected:
    void SetUp() override { m.Reset(); }

    static SHELLEXECUTEINFOW Info(const wchar_t* file, ULONG mask = 0) {
        SHELLEXECUTEINFOW info{};
        info.cbSize = sizeof info;
        info.fMask = mask;
        info.lpFile = file;
        info.nShow = SW_HIDE;
        return info;
    }

    sim::Machine& m = sim::TheMachine();
};

TEST_F(SimProcess, ABareProgramNameIsSearchedForInWindowsOrder) {
    const std::wstring appCopy = L"C:\\Program Files\\Quillmarsh\\fsutil.exe";
    const std::wstring cwdCopy = L"C:\\Work\\fsutil.exe";
    const std::wstring systemCopy = L"C:\\Windows\\system32\\fsutil.exe";
    const std::wstring windowsCopy = L"C:\\Windows\\fsutil.exe";
    m.SetCurrentDirectory(L"C:\\Work");
    // Remove the copies one by one, from the first searched place on.
    const std::wstring order[] = {appCopy, cwdCopy, systemCopy, windowsCopy};
    for (const auto& path : order) {
        m.PutFile(path, "MZ");
    }
    for (const auto& expected : order) {
        SCOPED_TRACE(testing::Message() << std::string(expected.begin(), expected.end()));
        auto info = Info(L"fsutil.exe");
        ASSERT_TRUE(ShellExecuteExW(&info));
        EXPECT_EQ(m.launches.back().file, expected);
        ASSERT_TRUE(DeleteFileW(expected.c_str()));
    }
    auto info = Info(L"fsutil");
    EXPECT_FALSE(ShellExecuteExW(&info));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(m.launches.size(), 4u);
}

TEST_F(SimProcess, APathMustExistAndTheLaunchIsRecordedInFull) {
    m.PutFile(L"C:\\Windows\\system32\\fsutil.exe", "MZ");
    auto missing = Info(L"C:\\Tools\\fsutil.exe");
    EXPECT_FALSE(ShellExecuteExW(&missing));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    ASSERT_EQ(m.messageBoxes.size(), 1u) << "the shell's own error box";
    EXPECT_EQ(m.messageBoxes[0].owner, nullptr);
    missing.fMask = SEE_MASK_FLAG_NO_UI;
    EXPECT_FALSE(ShellExecuteExW(&missing));
    EXPECT_EQ(m.messageBoxes.size(), 1u);

    auto info = Info(L"c:\\windows\\SYSTEM32\\fsutil", SEE_MASK_NOCLOSEPROCESS);
    info.lpParameters = L"behavior query disablelastaccess";
    info.lpVerb = L"open";
    info.hwnd = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(0x10));
    ASSERT_TRUE(ShellExecuteExW(&info));
    ASSERT_EQ(m.launches.size(), 1u);
    const sim::LaunchRecord& launch = m.launches[0];
    EXPECT_EQ(launch.file, L"C:\\Windows\\system32\\fsutil.exe");
    EXPECT_EQ(launch.parameters, L"behavior query disablelastaccess");
    EXPECT_EQ(launch.verb, L"open");
    EXPECT_EQ(launch.directory, L"");
    EXPECT_EQ(launch.show, SW_HIDE);
    EXPECT_EQ(launch.mask, SEE_MASK_NOCLOSEPROCESS);
    EXPECT_TRUE(launch.hwndGiven);
    EXPECT_EQ(m.CallsTo("ShellExecuteExW").back().target, launch.file);

    auto wrongSize = Info(L"fsutil.exe");
    wrongSize.cbSize = sizeof wrongSize - 8;
    EXPECT_FALSE(ShellExecuteExW(&wrongSize));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(SimProcess, ProcessHandlesAreCountedWaitedOnAndClosed) {
    m.PutFile(L"C:\\Windows\\system32\\fsutil.exe", "MZ");
    auto first = Info(L"fsutil.exe", SEE_MASK_NOCLOSEPROCESS);
    auto second = Info(L"fsutil.exe", SEE_MASK_NOCLOSEPROCESS);
    auto noHandle = Info(L"fsutil.exe");
    ASSERT_TRUE(ShellExecuteExW(&first));
    ASSERT_TRUE(ShellExecuteExW(&second));
    ASSERT_TRUE(ShellExecuteExW(&noHandle));
    EXPECT_NE(first.hProcess, nullptr);
    EXPECT_NE(first.hProcess, second.hProcess);
    EXPECT_EQ(noHandle.hProcess, nullptr);
    EXPECT_EQ(m.openProcessCount, 2);

    EXPECT_EQ(WaitForSingleObject(first.hProcess, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(m.waitCount, 1);
    EXPECT_TRUE(CloseHandle(first.hProcess));
    EXPECT_EQ(m.openProcessCount, 1);
    EXPECT_EQ(WaitForSingleObject(first.hProcess, INFINITE), WAIT_FAILED);
    EXPECT_EQ(m.waitCount, 1);
    EXPECT_TRUE(CloseHandle(second.hProcess));
    EXPECT_EQ(m.openProcessCount, 0);
}

TEST_F(SimProcess, CreateProcessTakesTheNameAsGivenAndStandardHandlesOnlyInheritable) {
    m.PutFile(L"C:\\Windows\\system32\\fsutil.exe", "MZ");
    m.PutFile(L"C:\\Program Files\\Quillmarsh\\fsutil.exe", "planted");
    m.AddDirectory(L"C:\\Work");
    m.SetCurrentDirectory(L"C:\\Work");
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    const HANDLE nul =
        CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    &inherit, OPEN_EXISTING, 0, nullptr);
    const HANDLE ownNul =
        CreateFileW(L"\\\\.\\nul", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(nul, INVALID_HANDLE_VALUE);
    ASSERT_NE(ownNul, INVALID_HANDLE_VALUE);
    EXPECT_EQ(m.OpenFileHandleCount(), 2);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nul;
    startup.hStdOutput = nul;
    startup.hStdError = nul;
    PROCESS_INFORMATION process{};
    std::wstring line = L"\"C:\\Windows\\system32\\fsutil.exe\" behavior query disablelastaccess";
    const auto start = [&](LPCWSTR application, BOOL inheritHandles) {
        return CreateProcessW(application, &line[0], nullptr, nullptr, inheritHandles,
                              CREATE_NO_WINDOW, nullptr, nullptr, &startup, &process);
    };
    // lpApplicationName is completed from the current directory only, and given no ".exe".
    EXPECT_FALSE(start(L"fsutil.exe", TRUE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(start(L"C:\\Windows\\system32\\fsutil", TRUE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    // STARTF_USESTDHANDLES wants bInheritHandles TRUE and inheritable handles (stricter).
    EXPECT_FALSE(start(L"C:\\Windows\\system32\\fsutil.exe", FALSE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    startup.hStdError = ownNul;
    EXPECT_FALSE(start(L"C:\\Windows\\system32\\fsutil.exe", TRUE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_TRUE(m.launches.empty());

    startup.hStdError = nul;
    ASSERT_TRUE(start(L"c:\\windows\\SYSTEM32\\fsutil.exe", TRUE));
    ASSERT_EQ(m.launches.size(), 1u);
    const sim::LaunchRecord& launch = m.launches[0];
    EXPECT_EQ(launch.file, L"C:\\Windows\\system32\\fsutil.exe");
    EXPECT_EQ(launch.applicationName, L"c:\\windows\\SYSTEM32\\fsutil.exe");
    EXPECT_EQ(launch.commandLine, line);
    EXPECT_EQ(launch.parameters, L"behavior query disablelastaccess") << "argv[0] left out";
    EXPECT_EQ(launch.creationFlags, CREATE_NO_WINDOW);
    EXPECT_EQ(launch.startupFlags, STARTF_USESTDHANDLES);
    EXPECT_TRUE(launch.inheritHandles);
    EXPECT_EQ(launch.stdOutput, L"\\\\.\\NUL");
    EXPECT_TRUE(launch.otherInherited.empty()) << "the non-inheritable NUL handle stays ours";
    EXPECT_EQ(m.openProcessCount, 1);
    EXPECT_EQ(m.openThreadCount, 1);
    EXPECT_EQ(WaitForSingleObject(process.hProcess, INFINITE), WAIT_OBJECT_0);
    EXPECT_TRUE(CloseHandle(process.hThread));
    EXPECT_TRUE(CloseHandle(process.hProcess));
    EXPECT_TRUE(CloseHandle(nul));
    EXPECT_TRUE(CloseHandle(ownNul));
    EXPECT_EQ(m.openProcessCount + m.openThreadCount + m.OpenFileHandleCount(), 0);
}

// The usual sequence for a reboot; returns the ExitWindowsEx result.
BOOL Reboot(DWORD* adjustError = nullptr) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
        return FALSE;
    }
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    EXPECT_TRUE(LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, &privileges.Privileges[0].Luid));
    EXPECT_TRUE(AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr));
    if (adjustError) {
        *adjustError = GetLastError();
    }
    EXPECT_TRUE(CloseHandle(token));
    return ExitWindowsEx(EWX_REBOOT | EWX_FORCE, 0);
}

TEST_F(SimProcess, RebootSucceedsOnceThePrivilegeIsEnabled) {
    DWORD adjustError = 99;
    EXPECT_TRUE(Reboot(&adjustError));
    EXPECT_EQ(adjustError, static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(m.exitRequests,
              (std::vector<sim::Machine::ExitRequest>{{EWX_REBOOT | EWX_FORCE, 0}}));
}

TEST_F(SimProcess, AMissingPrivilegeIsReportedBySucceedingWithNotAllAssigned) {
    m.privilegeHeld = false;
    DWORD adjustError = 0;
    EXPECT_FALSE(Reboot(&adjustError)); // a restart needs the privilege enabled
    EXPECT_EQ(adjustError, static_cast<DWORD>(ERROR_NOT_ALL_ASSIGNED));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PRIVILEGE_NOT_HELD));

    m.privilegeHeld = true;
    m.exitSucceeds = false;
    EXPECT_FALSE(Reboot(&adjustError));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHUTDOWN_IN_PROGRESS));
    EXPECT_EQ(m.exitRequests.size(), 2u);
}

TEST_F(SimProcess, TokenAndPrivilegeFailures) {
    HANDLE token = nullptr;
    m.tokenOpens = false;
    EXPECT_FALSE(OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

    LUID luid{};
    EXPECT_FALSE(LookupPrivilegeValueW(nullptr, L"SeNoSuchPrivilege", &luid));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_SUCH_PRIVILEGE));
    ASSERT_TRUE(LookupPrivilegeValueW(nullptr, L"seshutdownprivilege", &luid));
    EXPECT_EQ(luid.LowPart, 19u);
    EXPECT_EQ(luid.HighPart, 0);

    TOKEN_PRIVILEGES privileges{1, {{luid, SE_PRIVILEGE_ENABLED}}};
    EXPECT_FALSE(AdjustTokenPrivileges(nullptr, FALSE, &privileges, 0, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

    m.exitSucceeds = false;
    EXPECT_FALSE(Reboot());
}

TEST_F(SimProcess, MessageBoxesAreRecordedAndAnsweredFromTheScript) {
    m.messageBoxAnswers = {IDYES};
    const HWND owner = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(0x20));
    // Only an OK button: nothing to answer, so the script is left for the next box.
    EXPECT_EQ(MessageBoxW(nullptr, L"Note", L"Q", MB_OK | MB_ICONEXCLAMATION), IDOK);
    EXPECT_EQ(MessageBoxW(owner, L"Restart now?", L"Quillmarsh", MB_YESNO | MB_ICONQUESTION),
              IDYES);
    EXPECT_EQ(MessageBoxW(nullptr, L"Again?", L"Q", MB_YESNO), IDNO);
    EXPECT_EQ(MessageBoxW(nullptr, L"Done", L"Q", MB_OK | MB_ICONINFORMATION), IDOK);
    EXPECT_EQ(MessageBoxW(nullptr, L"Go?", L"Q", MB_OKCANCEL), IDOK);
    ASSERT_EQ(m.messageBoxes.size(), 5u);
    EXPECT_EQ(m.messageBoxes[1].owner, owner);
    EXPECT_EQ(m.messageBoxes[1].text, L"Restart now?");
    EXPECT_EQ(m.messageBoxes[1].caption, L"Quillmarsh");
    EXPECT_EQ(m.messageBoxes[1].type, MB_YESNO | MB_ICONQUESTION);
    EXPECT_TRUE(m.messageBoxAnswers.empty());
}

TEST_F(SimProcess, LoadStringCopiesWhatFitsAndReportsTheCount) {
    m.SetStringResource(101, L"Hello");
    struct Case {
        UINT id;
        int size;
        const wchar_t* expected;
        int returned;
    };
    const Case cases[] = {
        {101, 16, L"Hello", 5}, {101, 6, L"Hello", 5}, {101, 5, L"Hell", 4},
        {101, 1, L"", 0},       {102, 16, L"", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.id << " size " << c.size);
        WCHAR buffer[16] = {};
        EXPECT_EQ(LoadStringW(nullptr, c.id, buffer, c.size), c.returned);
        EXPECT_STREQ(buffer, c.expected);
    }
    WCHAR buffer[4] = {L'#'};
    EXPECT_EQ(LoadStringW(nullptr, 101, buffer, 0), 0);
    EXPECT_EQ(buffer[0], L'#');
}

TEST_F(SimProcess, VersionNeedsTheExactStructureSize) {
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof info;
    EXPECT_EQ(sizeof info, 276u);
    ASSERT_TRUE(GetVersionExW(&info));
    EXPECT_EQ(info.dwMajorVersion, 6u);
    EXPECT_EQ(info.dwMinorVersion, 1u);
    EXPECT_EQ(info.dwPlatformId, VER_PLATFORM_WIN32_NT);

    m.SetVersion(5, 1);
    ASSERT_TRUE(GetVersionExW(&info));
    EXPECT_EQ(info.dwMajorVersion, 5u);
    EXPECT_EQ(info.dwBuildNumber, 2600u);

    info.dwOSVersionInfoSize = sizeof info - 4;
    EXPECT_FALSE(GetVersionExW(&info));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

TEST_F(SimProcess, ModuleFileNameTruncatesTheWindowsWay) {
    m.SetModulePath(L"C:\\Q\\app.exe"); // 12 characters
    struct Case {
        DWORD size;
        DWORD returned;
        const wchar_t* expected;
        bool insufficient;
    };
    const Case cases[] = {
        {64, 12, L"C:\\Q\\app.exe", false},
        {13, 12, L"C:\\Q\\app.exe", false},
        {12, 12, L"C:\\Q\\app.ex", true},
        {4, 4, L"C:\\", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        WCHAR buffer[64];
        SetLastError(0);
        EXPECT_EQ(GetModuleFileNameW(nullptr, buffer, c.size), c.returned);
        EXPECT_STREQ(buffer, c.expected);
        EXPECT_EQ(GetLastError() == ERROR_INSUFFICIENT_BUFFER, c.insufficient);
    }
}

} // namespace
