// The simulated Windows machine: in-memory state behind the host implementation of win32_api.h.
// Tests preload it, run product code, then inspect what the code did (state, call log, dialogs).
#pragma once

#include "win32_api.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace sim {

struct RegValue {
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

// One entry per Win32 call the product makes, in call order.
struct CallRecord {
    std::string function; // e.g. "RegOpenKeyExW"
    std::wstring target;  // key path ("HKLM\\SYSTEM\\..."), file path or program, when there is one
    DWORD detail = 0;     // access rights, flags or creation disposition, when there are any
};

struct LaunchRecord {
    std::wstring file;
    std::wstring parameters;
    std::wstring verb;      // empty when none was given
    std::wstring directory; // empty when none was given
    int show = -1;
    ULONG mask = 0;
    bool hwndGiven = false;
};

struct MessageBoxRecord {
    HWND owner = nullptr;
    std::wstring text;
    std::wstring caption;
    UINT type = 0;
};

struct FileTimes {
    ULONGLONG creation = 0; // FILETIME ticks (100 ns since 1601)
    ULONGLONG lastAccess = 0;
    ULONGLONG lastWrite = 0;
};

class Machine {
public:
    // Back to a fresh Windows 7 machine: NT 6.1, empty HKLM, only C:\ and the system and program
    // folders exist, module path C:\Program Files\Quillmarsh\Quillmarsh.exe, current directory
    // C:\Program Files\Quillmarsh, shutdown allowed, no faults, empty logs.
    void Reset();

    // --- Registry. Key paths start with "HKLM\\" and compare case-insensitively.
    void CreateKey(const std::wstring& keyPath);
    void SetValue(const std::wstring& keyPath, const std::wstring& name, DWORD type,
                  std::vector<BYTE> data); // creates the key
    void SetDwordValue(const std::wstring& keyPath, const std::wstring& name, DWORD value);
    void SetStringValue(const std::wstring& keyPath, const std::wstring& name,
                        const std::wstring& text); // REG_SZ, UTF-16 with its terminator
    bool HasKey(const std::wstring& keyPath) const;
    std::optional<RegValue> Value(const std::wstring& keyPath, const std::wstring& name) const;
    std::optional<DWORD> DwordValue(const std::wstring& keyPath, const std::wstring& name) const;
    int OpenKeyCount() const; // keys opened and not yet closed
    int FlushCount(const std::wstring& keyPath) const;

    // --- Version and module.
    void SetVersion(DWORD major, DWORD minor, DWORD platformId = VER_PLATFORM_WIN32_NT);
    void SetModulePath(const std::wstring& path);

    // --- File system. Absolute paths ("C:\\dir\\file"); relative paths given to the Win32
    // functions resolve against the current directory. Names compare case-insensitively.
    void AddDirectory(const std::wstring& path, bool writable = true); // with its parents
    void SetDirectoryWritable(const std::wstring& path, bool writable);
    void SetCurrentDirectory(const std::wstring& path);
    std::wstring CurrentDirectory() const;
    void PutFile(const std::wstring& path, const std::string& content,
                 DWORD attributes = FILE_ATTRIBUTE_ARCHIVE); // creates parent directories
    void SetFileTimes(const std::wstring& path, const FileTimes& times);
    bool FileExists(const std::wstring& path) const;
    std::optional<std::string> FileContent(const std::wstring& path) const;
    std::optional<DWORD> FileAttributes(const std::wstring& path) const;
    std::optional<FileTimes> FileTimesOf(const std::wstring& path) const;
    void HoldOpenByOtherProcess(const std::wstring& path, bool held = true); // no sharing
    int OpenFileHandleCount() const;
    void SetClock(ULONGLONG fileTimeTicks); // time stamp given to files created or written now

    // --- Processes. ShellExecuteExW records every launch; the program must exist as a file.
    std::vector<LaunchRecord> launches;
    int waitCount = 0;        // WaitForSingleObject calls on a launched process
    int openProcessCount = 0; // process handles handed out and not yet closed

    // --- Token and shutdown.
    bool tokenOpens = true;     // OpenProcessToken succeeds
    bool privilegeHeld = true;  // else AdjustTokenPrivileges succeeds with ERROR_NOT_ALL_ASSIGNED
    bool exitSucceeds = true;   // ExitWindowsEx result
    std::vector<UINT> exitRequests; // flags of every ExitWindowsEx call

    // --- Message boxes: answered from the script in order; when it is empty, IDOK for OK
    // boxes and IDNO for Yes/No boxes.
    std::vector<int> messageBoxAnswers;
    std::vector<MessageBoxRecord> messageBoxes;

    // --- String resources of the running module (LoadStringW).
    void SetStringResource(UINT id, const std::wstring& text);

    // --- Call log and fault injection.
    std::vector<CallRecord> calls;
    std::vector<CallRecord> CallsTo(const std::string& function) const;
    // Make the nth call (1-based) of `function` fail with `error`; nth = 0 makes every call fail.
    // Failing means what it means for that function on Windows (an error code returned, FALSE
    // with the last error set, INVALID_HANDLE_VALUE, INVALID_FILE_ATTRIBUTES, 0 characters).
    // AdjustTokenPrivileges "fails" with ERROR_NOT_ALL_ASSIGNED by succeeding with that last
    // error, as Windows does.
    void InjectFault(const std::string& function, DWORD error, int nth = 0);
    void ClearFaults();
    int PlatformCallCount() const { return static_cast<int>(calls.size()); }

    // Implementation state; the helpers in the sim's .cpp files use it.
    struct Impl;
    Impl& impl();

private:
    Impl* impl_ = nullptr;
};

// The one machine behind the Win32 functions in this process.
Machine& TheMachine();

} // namespace sim
