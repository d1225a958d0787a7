#include "engine/run_hidden.h"

#include "fw/system_library.h"

#include <string>

namespace {

// How long an ended program may take to be gone; TerminateProcess returns before it is.
constexpr DWORD kEndingTimeout = 5000;

ToolRun Failed(DWORD error, const char* step) {
    return ToolRun{error == NO_ERROR ? static_cast<DWORD>(ERROR_GEN_FAILURE) : error, step};
}

// Owns a kernel handle that was opened successfully and closes it at the end of its scope.
class OwnedHandle {
public:
    explicit OwnedHandle(HANDLE handle) : m_handle(handle) {}
    OwnedHandle(const OwnedHandle&) = delete;
    OwnedHandle& operator=(const OwnedHandle&) = delete;
    ~OwnedHandle() {
        if (m_handle != nullptr && m_handle != INVALID_HANDLE_VALUE) {
            CloseHandle(m_handle);
        }
    }

    HANDLE Get() const { return m_handle; }

private:
    HANDLE m_handle;
};

// The tool's process, or why it could not be started.
struct Started {
    HANDLE process = nullptr;
    ToolRun failure;
};

Started StartThroughShell(const std::wstring& file, LPCWSTR parameters) {
    using ShellExecuteExFunction = BOOL(WINAPI*)(SHELLEXECUTEINFOW*);
    const auto shellExecuteEx =
        SystemFunction<ShellExecuteExFunction>(L"shell32.dll", "ShellExecuteExW");
    if (shellExecuteEx == nullptr) {
        return {nullptr, Failed(GetLastError(), "loading shell32.dll")};
    }
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof(info);
    // The failure is reported by the program itself, naming the feature; the shell's own box
    // would belong to no window.
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    info.hwnd = nullptr;
    info.lpVerb = nullptr;
    info.lpFile = file.c_str();
    info.lpParameters = parameters;
    info.lpDirectory = nullptr;
    info.nShow = SW_HIDE;
    if (!shellExecuteEx(&info)) {
        return {nullptr, Failed(GetLastError(), "starting fsutil.exe")};
    }
    if (info.hProcess == nullptr) {
        return {nullptr, Failed(ERROR_INVALID_HANDLE, "starting fsutil.exe")};
    }
    return {info.hProcess, {}};
}

Started StartSilently(const std::wstring& file, LPCWSTR parameters) {
    // The NUL device takes what the tool writes and gives it nothing to read. STARTUPINFO,
    // STARTF_USESTDHANDLES: "the handles must be inheritable and the function's bInheritHandles
    // parameter must be set to TRUE", so this handle is opened inheritable and the tool
    // inherits it. bInheritHandles TRUE hands the tool every inheritable handle of ours; all the
    // others are opened with null security attributes, which CreateFileW and CreateMutexW
    // document as not inheritable. (Standard handles our own caller made inheritable are
    // inherited as well; the tool is not told their values, and it ends, or is ended, before
    // we do.)
    SECURITY_ATTRIBUTES inheritable{};
    inheritable.nLength = sizeof(inheritable);
    inheritable.lpSecurityDescriptor = nullptr;
    inheritable.bInheritHandle = TRUE;
    const OwnedHandle nul(CreateFileW(L"\\\\.\\NUL", GENERIC_READ | GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                                      OPEN_EXISTING, 0, nullptr));
    if (nul.Get() == INVALID_HANDLE_VALUE) {
        return {nullptr, Failed(GetLastError(), "opening NUL")};
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    // Hidden as the dialog's launch is, should the tool ever open a window of its own.
    startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    startup.hStdInput = nul.Get();
    startup.hStdOutput = nul.Get();
    startup.hStdError = nul.Get();
    // The module by full path (lpApplicationName: "The function will not use the search
    // path"), and the command line the tool parses, its own name quoted first as argv[0].
    // CreateProcessW may write into the command line, so it is a buffer of ours.
    std::wstring commandLine = L"\"" + file + L"\" " + parameters;
    PROCESS_INFORMATION process{};
    // CREATE_NO_WINDOW: a console program "run without a console window", neither ours nor
    // one of its own.
    if (!CreateProcessW(file.c_str(), &commandLine[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                        nullptr, nullptr, &startup, &process)) {
        return {nullptr, Failed(GetLastError(), "starting fsutil.exe")};
    }
    CloseHandle(process.hThread);
    return {process.hProcess, {}};
}

} // namespace

ToolRun RunFsutil(LPCWSTR parameters, DWORD timeout, ToolStart start) {
    // Elevated: launch the system's own tool by full path, never one found in the program's
    // folder or the current directory.
    const std::wstring file = SystemPath(L"fsutil.exe");
    if (file.empty()) {
        return Failed(GetLastError(), "finding the system folder");
    }
    const Started started = start == ToolStart::Shell ? StartThroughShell(file, parameters)
                                                      : StartSilently(file, parameters);
    if (started.process == nullptr) {
        return started.failure;
    }
    const OwnedHandle process(started.process);
    const DWORD waited = WaitForSingleObject(process.Get(), timeout);
    if (waited == WAIT_TIMEOUT) {
        // No child is left running: a tool that does not end in time is ended.
        TerminateProcess(process.Get(), ERROR_TIMEOUT);
        WaitForSingleObject(process.Get(), kEndingTimeout);
        return Failed(ERROR_TIMEOUT, "waiting for fsutil.exe");
    }
    if (waited != WAIT_OBJECT_0) {
        return Failed(GetLastError(), "waiting for fsutil.exe");
    }
    return {};
}
