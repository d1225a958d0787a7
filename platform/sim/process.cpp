// Process launch and wait, the process token and its privileges, and shutdown requests.
#include "sim_internal.h"

#include <cwchar>

namespace sim {

namespace {

constexpr DWORD kShutdownLuid = 19;
// A DLL that ShellExecuteExW loads by name while it runs.
constexpr wchar_t kShellHelper[] = L"shcore.dll";
const HANDLE kCurrentProcess = reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1));

BOOL Fail(DWORD error) {
    SetError(error);
    return FALSE;
}

std::shared_ptr<SimFile> ExistingFile(const std::wstring& normalized) {
    return normalized.empty() ? nullptr : FindFile(State(), normalized);
}

// A name with a path must exist as given; a bare name is searched for in the application's
// folder, the current directory, the system directory and the Windows directory, in that order.
// Either may leave out ".exe".
std::shared_ptr<SimFile> FindProgram(const std::wstring& name) {
    const auto& s = State();
    std::vector<std::wstring> candidates;
    if (name.find_first_of(L"\\/") != std::wstring::npos) {
        candidates.push_back(NormalizePath(name, s.currentDirectory));
    } else {
        const std::wstring folders[] = {ParentPath(NormalizePath(s.modulePath, s.currentDirectory)),
                                        s.currentDirectory, L"C:\\Windows\\system32",
                                        L"C:\\Windows"};
        for (const auto& folder : folders) {
            candidates.push_back(NormalizePath(folder + L"\\" + name, s.currentDirectory));
        }
    }
    const bool hasExtension =
        LastComponent(NormalizePath(name, s.currentDirectory)).find(L'.') != std::wstring::npos;
    for (const auto& candidate : candidates) {
        if (auto file = ExistingFile(candidate)) {
            return file;
        }
        if (!hasExtension) {
            if (auto file = ExistingFile(candidate + L".exe")) {
                return file;
            }
        }
    }
    return nullptr;
}

// What the system's fsutil.exe does with "behavior set DisableDeleteNotify N": it sets the
// setting ("fsutil behavior" reference). That Windows keeps the NTFS setting as the FileSystem
// key's DisableDeleteNotification, the value the program reads for TRIM, is observed by third
// parties; no Microsoft page names the value.
void RunFsutil(const std::wstring& parameters) {
    const std::wstring prefix = L"behavior set DisableDeleteNotify ";
    if (!TheMachine().fsutilStoresValue || parameters.size() <= prefix.size() ||
        !IEquals(parameters.substr(0, prefix.size()), prefix)) {
        return;
    }
    const std::wstring number = parameters.substr(prefix.size());
    if (number.find_first_not_of(L"0123456789") != std::wstring::npos) {
        return;
    }
    TheMachine().SetDwordValue(L"HKLM\\SYSTEM\\CurrentControlSet\\Control\\FileSystem",
                               L"DisableDeleteNotification",
                               static_cast<DWORD>(std::wcstoul(number.c_str(), nullptr, 10)));
}

// SHELLEXECUTEINFO, SEE_MASK_FLAG_NO_UI: "Do not display an error message box if an error occurs".
BOOL FailWithErrorBox(const SHELLEXECUTEINFOW& info, const std::wstring& program, DWORD error) {
    if ((info.fMask & SEE_MASK_FLAG_NO_UI) == 0) {
        TheMachine().messageBoxes.push_back(
            MessageBoxRecord{info.hwnd, program, L"Error", MB_OK | MB_ICONERROR});
    }
    return Fail(error);
}

HANDLE NewHandle(HandleKind kind, DWORD access) {
    auto& s = State();
    const std::uintptr_t value = s.NewHandleValue();
    HandleObject& o = s.handles[value];
    o.kind = kind;
    o.access = access;
    return reinterpret_cast<HANDLE>(value);
}

// What both launch functions do once the program is found: the program runs (the system's
// fsutil.exe does its work), the launch is recorded, and a handle to the process is returned
// when one is wanted.
HANDLE StartProgram(const SimFile& program, const std::wstring& parameters, LaunchRecord record,
                    bool processHandle) {
    Machine& m = TheMachine();
    if (IEquals(program.path, L"C:\\Windows\\system32\\fsutil.exe")) {
        RunFsutil(parameters);
    }
    record.file = program.path;
    record.parameters = parameters;
    m.launches.push_back(std::move(record));
    if (!processHandle) {
        return nullptr;
    }
    const HANDLE process = NewHandle(HandleKind::Process, 0);
    State().processEnds[reinterpret_cast<std::uintptr_t>(process)] = LaunchedProgramEnd(State());
    m.openProcessCount++;
    return process;
}

// The arguments a program's C runtime sees in `commandLine`: what follows the first token, the
// program's name (up to the next quote when it starts with one, else up to a space or tab).
std::wstring ArgumentsOf(const std::wstring& commandLine) {
    std::size_t end = 0;
    if (!commandLine.empty() && commandLine[0] == L'"') {
        end = commandLine.find(L'"', 1);
        end = end == std::wstring::npos ? commandLine.size() : end + 1;
    } else {
        end = commandLine.find_first_of(L" \t");
        end = end == std::wstring::npos ? commandLine.size() : end;
    }
    const std::size_t start = commandLine.find_first_not_of(L" \t", end);
    return start == std::wstring::npos ? std::wstring() : commandLine.substr(start);
}

// What a standard handle given to CreateProcessW refers to; empty when it is no open handle.
std::wstring HandleObjectName(HANDLE handle) {
    const auto& handles = State().handles;
    const auto it = handles.find(reinterpret_cast<std::uintptr_t>(handle));
    if (it == handles.end()) {
        return {};
    }
    return it->second.file ? it->second.file->path : it->second.objectName;
}

bool InheritableHandle(HANDLE handle) {
    const auto& handles = State().handles;
    const auto it = handles.find(reinterpret_cast<std::uintptr_t>(handle));
    return it != handles.end() && it->second.inheritable;
}

} // namespace

} // namespace sim

using namespace sim;

BOOL ShellExecuteExW(SHELLEXECUTEINFOW* pExecInfo) {
    const std::wstring given = pExecInfo ? Str(pExecInfo->lpFile) : std::wstring();
    auto program = given.empty() ? nullptr : FindProgram(given);
    auto fault =
        Enter("ShellExecuteExW", program ? program->path : given, pExecInfo ? pExecInfo->fMask : 0);
    if (!pExecInfo || pExecInfo->cbSize != sizeof(SHELLEXECUTEINFOW)) {
        return Fail(fault ? *fault : ERROR_INVALID_PARAMETER);
    }
    if (fault) {
        return FailWithErrorBox(*pExecInfo, given, *fault);
    }
    pExecInfo->hProcess = nullptr;
    if (!program) {
        pExecInfo->hInstApp = reinterpret_cast<HINSTANCE>(static_cast<std::uintptr_t>(2));
        return FailWithErrorBox(*pExecInfo, given, ERROR_FILE_NOT_FOUND);
    }
    LoadHelperLibrary(kShellHelper);
    LaunchRecord record;
    record.verb = Str(pExecInfo->lpVerb);
    record.directory = Str(pExecInfo->lpDirectory);
    record.show = pExecInfo->nShow;
    record.mask = pExecInfo->fMask;
    record.hwndGiven = pExecInfo->hwnd != nullptr;
    pExecInfo->hProcess = StartProgram(*program, Str(pExecInfo->lpParameters), std::move(record),
                                       (pExecInfo->fMask & SEE_MASK_NOCLOSEPROCESS) != 0);
    pExecInfo->hInstApp = reinterpret_cast<HINSTANCE>(static_cast<std::uintptr_t>(42));
    return TRUE;
}

BOOL CreateProcessW(LPCWSTR lpApplicationName, LPWSTR lpCommandLine,
                    LPSECURITY_ATTRIBUTES /*lpProcessAttributes*/,
                    LPSECURITY_ATTRIBUTES /*lpThreadAttributes*/, BOOL bInheritHandles,
                    DWORD dwCreationFlags, LPVOID /*lpEnvironment*/, LPCWSTR lpCurrentDirectory,
                    LPSTARTUPINFOW lpStartupInfo, LPPROCESS_INFORMATION lpProcessInformation) {
    const auto& s = State();
    // lpApplicationName: a partial name is completed from the current directory; "The function
    // will not use the search path" and "no default extension is assumed". Without it, the
    // command line's first token is searched for as a bare name is (FindProgram).
    const std::wstring commandLine = Str(lpCommandLine);
    const std::wstring given =
        lpApplicationName
            ? Str(lpApplicationName)
            : commandLine.substr(0, commandLine.size() - ArgumentsOf(commandLine).size());
    const std::wstring unquoted = Trim(
        given.size() > 1 && given[0] == L'"' ? given.substr(1, given.find(L'"', 1) - 1) : given);
    std::shared_ptr<SimFile> program;
    if (lpApplicationName || unquoted.find_first_of(L"\\/") != std::wstring::npos) {
        program = ExistingFile(NormalizePath(unquoted, s.currentDirectory));
    } else if (!unquoted.empty()) {
        program = FindProgram(unquoted);
    }
    if (auto fault = Enter("CreateProcessW", program ? program->path : unquoted, dwCreationFlags)) {
        return Fail(*fault);
    }
    if (!lpStartupInfo || !lpProcessInformation || (given.empty() && commandLine.empty())) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    // Process Creation Flags: CREATE_NEW_CONSOLE "cannot be used with DETACHED_PROCESS";
    // STARTUPINFO: STARTF_USESTDHANDLES "cannot be used with STARTF_USEHOTKEY".
    const DWORD startup = lpStartupInfo->dwFlags;
    if ((dwCreationFlags & CREATE_NEW_CONSOLE) && (dwCreationFlags & DETACHED_PROCESS)) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    const bool stdHandles = (startup & STARTF_USESTDHANDLES) != 0;
    if (stdHandles && (startup & STARTF_USEHOTKEY)) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    // STARTUPINFO, STARTF_USESTDHANDLES: "the handles must be inheritable and the function's
    // bInheritHandles parameter must be set to TRUE". Windows itself does not check
    // (CreateProcessW: the fields "are copied unchanged to the child process without validation"),
    // and the child then holds values that name none of its handles; the stricter reading refuses
    // the call.
    if (stdHandles && (!bInheritHandles || !InheritableHandle(lpStartupInfo->hStdInput) ||
                       !InheritableHandle(lpStartupInfo->hStdOutput) ||
                       !InheritableHandle(lpStartupInfo->hStdError))) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    if (!program) {
        return Fail(NotFoundError(NormalizePath(unquoted, s.currentDirectory)));
    }
    LaunchRecord record;
    record.directory = Str(lpCurrentDirectory);
    record.show = (startup & STARTF_USESHOWWINDOW) ? lpStartupInfo->wShowWindow : -1;
    record.applicationName = Str(lpApplicationName);
    record.commandLine = commandLine;
    record.creationFlags = dwCreationFlags;
    record.startupFlags = startup;
    record.inheritHandles = bInheritHandles != FALSE;
    if (stdHandles) {
        record.stdInput = HandleObjectName(lpStartupInfo->hStdInput);
        record.stdOutput = HandleObjectName(lpStartupInfo->hStdOutput);
        record.stdError = HandleObjectName(lpStartupInfo->hStdError);
    }
    // bInheritHandles: "If this parameter is TRUE, each inheritable handle in the calling
    // process is inherited by the new process."
    for (const auto& [value, object] : s.handles) {
        const HANDLE handle = reinterpret_cast<HANDLE>(value);
        const bool standard = stdHandles && (handle == lpStartupInfo->hStdInput ||
                                             handle == lpStartupInfo->hStdOutput ||
                                             handle == lpStartupInfo->hStdError);
        if (bInheritHandles && object.inheritable && !standard) {
            record.otherInherited.push_back(HandleObjectName(handle));
        }
    }
    // Without lpCommandLine the application name is the command line.
    const std::wstring arguments = lpCommandLine ? ArgumentsOf(commandLine) : std::wstring();
    const DWORD id = State().nextProcessId++;
    lpProcessInformation->hProcess = StartProgram(*program, arguments, std::move(record), true);
    lpProcessInformation->hThread = NewHandle(HandleKind::Thread, 0);
    lpProcessInformation->dwProcessId = id;
    lpProcessInformation->dwThreadId = id;
    TheMachine().openThreadCount++;
    return TRUE;
}

void Sleep(DWORD dwMilliseconds) {
    Enter("Sleep", {}, dwMilliseconds);
    State().clock += static_cast<ULONGLONG>(dwMilliseconds) * 10000u; // the simulated clock only
    OtherProgramsCatchUp(State());
}

DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
    if (auto fault = Enter("WaitForSingleObject", {}, dwMilliseconds)) {
        SetError(*fault);
        return WAIT_FAILED;
    }
    if (HandleObject* mutex = FindHandle(hHandle, HandleKind::Mutex)) {
        return WaitForMutex(*mutex, dwMilliseconds);
    }
    if (!FindHandle(hHandle, HandleKind::Process)) {
        SetError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    TheMachine().waitCount++;
    return WaitForProcess(reinterpret_cast<std::uintptr_t>(hHandle), dwMilliseconds);
}

BOOL GetExitCodeProcess(HANDLE hProcess, LPDWORD lpExitCode) {
    if (auto fault = Enter("GetExitCodeProcess")) {
        return Fail(*fault);
    }
    if (!FindHandle(hProcess, HandleKind::Process) || !lpExitCode) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    *lpExitCode = TheMachine().exitCode;
    return TRUE;
}

HANDLE GetCurrentProcess() {
    Enter("GetCurrentProcess"); // cannot fail on Windows, so faults are not applied
    return kCurrentProcess;
}

BOOL OpenProcessToken(HANDLE ProcessHandle, DWORD DesiredAccess, PHANDLE TokenHandle) {
    if (auto fault = Enter("OpenProcessToken", {}, DesiredAccess)) {
        return Fail(*fault);
    }
    if (ProcessHandle != kCurrentProcess && !FindHandle(ProcessHandle, HandleKind::Process)) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    if (!TokenHandle) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    if (!TheMachine().tokenOpens) {
        return Fail(ERROR_ACCESS_DENIED);
    }
    *TokenHandle = NewHandle(HandleKind::Token, DesiredAccess);
    return TRUE;
}

BOOL LookupPrivilegeValueW(LPCWSTR /*lpSystemName*/, LPCWSTR lpName, PLUID lpLuid) {
    const std::wstring name = Str(lpName);
    if (auto fault = Enter("LookupPrivilegeValueW", name)) {
        return Fail(*fault);
    }
    if (!lpLuid) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    if (!IEquals(name, SE_SHUTDOWN_NAME)) {
        return Fail(ERROR_NO_SUCH_PRIVILEGE);
    }
    *lpLuid = LUID{kShutdownLuid, 0};
    return TRUE;
}

BOOL AdjustTokenPrivileges(HANDLE TokenHandle, BOOL DisableAllPrivileges,
                           PTOKEN_PRIVILEGES NewState, DWORD /*BufferLength*/,
                           PTOKEN_PRIVILEGES /*PreviousState*/, PDWORD ReturnLength) {
    const DWORD attributes =
        NewState && NewState->PrivilegeCount > 0 ? NewState->Privileges[0].Attributes : 0;
    if (auto fault = Enter("AdjustTokenPrivileges", {}, attributes)) {
        SetError(*fault);
        return *fault == ERROR_NOT_ALL_ASSIGNED ? TRUE : FALSE;
    }
    HandleObject* token = FindHandle(TokenHandle, HandleKind::Token);
    if (!token) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    if (!(token->access & TOKEN_ADJUST_PRIVILEGES)) {
        return Fail(ERROR_ACCESS_DENIED);
    }
    if (!DisableAllPrivileges && !NewState) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    if (ReturnLength) {
        *ReturnLength = 0;
    }
    // Windows reports a privilege the token lacks (or a LUID no privilege has) by succeeding
    // with ERROR_NOT_ALL_ASSIGNED.
    bool assigned = true;
    for (DWORD i = 0; !DisableAllPrivileges && i < NewState->PrivilegeCount; ++i) {
        const LUID_AND_ATTRIBUTES& entry = NewState->Privileges[i];
        const bool shutdown = entry.Luid.LowPart == kShutdownLuid && entry.Luid.HighPart == 0;
        if (!shutdown || !TheMachine().privilegeHeld) {
            assigned = false;
        } else {
            State().shutdownEnabled = (entry.Attributes & SE_PRIVILEGE_ENABLED) != 0;
        }
    }
    if (DisableAllPrivileges) {
        State().shutdownEnabled = false;
    }
    SetError(assigned ? ERROR_SUCCESS : ERROR_NOT_ALL_ASSIGNED);
    return TRUE;
}

BOOL ExitWindowsEx(UINT uFlags, DWORD dwReason) {
    if (auto fault = Enter("ExitWindowsEx", {}, uFlags)) {
        return Fail(*fault);
    }
    Machine& m = TheMachine();
    m.exitRequests.push_back({uFlags, dwReason});
    // ExitWindowsEx: a restart needs SE_SHUTDOWN_NAME enabled with AdjustTokenPrivileges first.
    if (!State().shutdownEnabled) {
        return Fail(ERROR_PRIVILEGE_NOT_HELD);
    }
    if (!m.exitSucceeds) {
        return Fail(ERROR_SHUTDOWN_IN_PROGRESS);
    }
    return TRUE;
}
