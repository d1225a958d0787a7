// The simulated Windows machine: in-memory state behind the host implementation of win32_api.h.
// Tests preload it, run product code, then inspect what the code did (state, call log, dialogs).
#pragma once

#include "win32_api.h"

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace sim {

struct RegValue {
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

// One entry per Win32 call the product makes, in call order (GetLastError and SetLastError are
// not logged: they are bookkeeping, and logging them would swamp the log). Faulted calls are
// logged too. Conventions for `target`:
//  - registry calls: the key path as the caller spelled it ("HKLM\\SOFTWARE\\...");
//  - file calls and profile calls: the absolute path the name resolved to; calls on a file handle:
//    the path of that file; CopyFileW: the destination path;
//  - ShellExecuteExW: the program it resolved to (lpFile as given when it was not found);
//  - LookupPrivilegeValueW: the privilege name;
//  - LoadLibraryW, LoadLibraryExW: the DLL's path when found, else the name as given;
//    GetModuleHandleW: the name; GetProcAddress: the procedure name; SetDllDirectoryW: the path.
// `detail`: samDesired (RegOpenKeyExW, RegCreateKeyExW), the value type (RegSetValueExW),
// dwDesiredAccess (CreateFileW), the byte count (ReadFile, WriteFile), the attributes
// (SetFileAttributesW), bFailIfExists (CopyFileW), the buffer size (GetModuleFileNameW,
// GetSystemDirectoryW, GetPrivateProfileStringW, LoadStringW uses the string id), fMask
// (ShellExecuteExW), the timeout (WaitForSingleObject), DesiredAccess (OpenProcessToken), the
// first privilege's attributes (AdjustTokenPrivileges), uFlags (ExitWindowsEx), uType
// (MessageBoxW), the milliseconds (Sleep), dwOSVersionInfoSize (GetVersionExW), dwFlags
// (LoadLibraryExW), DirectoryFlags (SetDefaultDllDirectories); 0 otherwise.
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
    // CreateProcessW only (ShellExecuteExW leaves them empty): what was asked for, and what each
    // standard handle refers to (a file's path, or L"\\\\.\\NUL" for the NUL device; empty when
    // STARTF_USESTDHANDLES was not given), and what every other handle the program inherited
    // refers to.
    std::wstring applicationName;
    std::wstring commandLine;
    DWORD creationFlags = 0;
    DWORD startupFlags = 0;
    bool inheritHandles = false;
    std::wstring stdInput;
    std::wstring stdOutput;
    std::wstring stdError;
    std::vector<std::wstring> otherInherited;
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
    Machine();
    ~Machine();
    Machine(const Machine&) = delete;
    Machine& operator=(const Machine&) = delete;

    // Back to a fresh Windows 7 machine: NT 6.1, empty HKLM, only C:\, the system and program
    // folders and the temporary folder exist (environment: USERPROFILE C:\Users\Admin, TEMP and
    // TMP C:\Users\Admin\AppData\Local\Temp) (C:\Windows\system32 holds fsutil.exe, as every
    // Windows does), module path C:\Program Files\Quillmarsh\Quillmarsh.exe, current directory
    // C:\Program Files\Quillmarsh, shutdown allowed, no faults, empty logs.
    void Reset();

    // --- Registry. Key paths start with "HKLM\\" and compare case-insensitively.
    // String values (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ) are stored as UTF-16LE bytes, as on
    // Windows, but RegQueryValueExW/RegSetValueExW count the caller's buffer in WCHAR units:
    // capacity = cbData / sizeof(WCHAR) characters, sizes reported back = characters *
    // sizeof(WCHAR). A WCHAR[260] buffer therefore holds 260 characters on both platforms.
    void CreateKey(const std::wstring& keyPath);
    // What the key's DACL grants this process (KEY_ALL_ACCESS unless set); keys created under it
    // later inherit it. Opening or creating the key with more fails with ERROR_ACCESS_DENIED.
    void SetKeyRights(const std::wstring& keyPath, REGSAM granted);
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
    // An unwritable directory refuses creating, deleting and overwriting the files in it
    // (ERROR_ACCESS_DENIED); attribute and time changes still work. Opens that ask only for
    // FILE_READ_ATTRIBUTES/FILE_WRITE_ATTRIBUTES take no part in share checks, as on Windows.
    // A file deleted and created again under the same name within 15 seconds keeps its creation
    // time (NTFS tunneling). FileAttributes reports what GetFileAttributesW reports:
    // FILE_ATTRIBUTE_NORMAL when a file has no attributes. Profile functions look for a bare file
    // name (no backslash) in C:\\Windows, as Windows does; new profile files are 8-bit (Latin-1)
    // text with CRLF.
    void AddDirectory(const std::wstring& path, bool writable = true); // with its parents
    void SetDirectoryWritable(const std::wstring& path, bool writable);
    void SetCurrentDirectory(const std::wstring& path); // creates it when missing
    std::wstring CurrentDirectory() const;
    void PutFile(const std::wstring& path, const std::string& content,
                 DWORD attributes = FILE_ATTRIBUTE_ARCHIVE); // creates parent directories
    void SetFileTimes(const std::wstring& path, const FileTimes& times);
    bool FileExists(const std::wstring& path) const;
    std::optional<std::string> FileContent(const std::wstring& path) const;
    std::optional<DWORD> FileAttributes(const std::wstring& path) const;
    std::optional<FileTimes> FileTimesOf(const std::wstring& path) const;
    void HoldOpenByOtherProcess(const std::wstring& path, bool held = true); // no sharing, for good
    // Other programs open files the moment they are closed: anti-virus scanners, the indexer,
    // backup agents (test_MoveFileA in dlls/kernel32/tests/file.c shows what such a handle does to
    // a rename; CreateFileW's FILE_SHARE_DELETE, to a delete). A scanner opens each file the
    // product closes after writing it (a handle with write access, CopyFileW's destination),
    // reading and sharing read and write but not delete, and keeps it for this many ticks of the
    // simulated clock (kForever: for good); unset, there is none. Sleep advances the clock.
    static constexpr ULONGLONG kForever = ~0ull;
    std::optional<ULONGLONG> scannerHold;
    // What another program does with a file it holds. Each opens the file first (Map closes its
    // handle once the file is mapped), so a file the product has open without sharing what that
    // open needs cannot be held.
    enum class Hold {
        Scanner, // reads, sharing read and write: a rename or delete is a sharing violation
        Indexer, // reads, sharing read, write and delete: a delete succeeds but the name stays
        Map,     // maps it: a delete fails with ERROR_ACCESS_DENIED, a truncation with
                 // ERROR_USER_MAPPED_FILE
        Lock,    // reads as the scanner does and locks every byte: ReadFile and WriteFile fail
                 // with ERROR_LOCK_VIOLATION
        Delete,  // deletes it while open: the name stays, and opening or querying it fails with
                 // ERROR_ACCESS_DENIED, until the program closes it and the name goes
    };
    // Just before the nth call (1-based, counted like faults) of `function`, such a program holds
    // the files that call names (both for CopyFileW and MoveFileExW) for `ticks`; nothing when the
    // call names no file or the file cannot be opened beside the handles already open.
    void HoldBeforeCall(const std::string& function, int nth, ULONGLONG ticks,
                        Hold hold = Hold::Scanner);
    // Such a program holds the file at `path` now, for `ticks`; nothing as above.
    void HoldFile(const std::wstring& path, Hold hold, ULONGLONG ticks);
    // Every other program closes what it holds now (the holds for good too).
    void EndOtherPrograms();
    // Indexes in `calls` of the calls that failed because of another program's hold.
    std::vector<size_t> refusedByOtherPrograms;
    // Links; the new name must be free. A hard link is one more name of the same file. A symbolic
    // link is a file of its own (a reparse point) naming a target that need not exist:
    // CreateFileW, the profile functions and CopyFileW's source follow it unless
    // FILE_FLAG_OPEN_REPARSE_POINT is given; GetFileAttributesW(Ex) and DeleteFileW act on the
    // link itself.
    void AddHardLink(const std::wstring& existing, const std::wstring& link);
    void AddSymbolicLink(const std::wstring& link, const std::wstring& target);
    int OpenFileHandleCount() const;
    void SetClock(ULONGLONG fileTimeTicks); // time stamp given to files created or written now
    ULONGLONG Clock() const;                // advanced by Sleep

    // --- Environment and short names. A variable set to nullopt is removed. A short (8.3) name
    // for an existing file or folder: GetLongPathNameW takes it back to the long one; the other
    // file functions do not know it.
    void SetEnvironment(const std::wstring& name, const std::optional<std::wstring>& value);
    void SetShortName(const std::wstring& path, const std::wstring& shortName);

    // --- Processes. ShellExecuteExW and CreateProcessW record every launch; the program must
    // exist as a file. While ShellExecuteExW runs it loads shcore.dll by bare name, as the
    // shell's code loads its helpers. CreateProcessW takes lpApplicationName as given (no search,
    // no ".exe" added) and refuses STARTF_USESTDHANDLES unless bInheritHandles is TRUE and all
    // three handles are open and inheritable. CreateFileW(L"NUL" or L"\\\\.\\NUL") opens the NUL
    // device; OpenFileHandleCount counts its handles too.
    // The system's fsutil.exe stores "behavior set DisableDeleteNotify N" as the
    // FileSystem key's DisableDeleteNotification, unless fsutilStoresValue is false. A launch
    // that fails (faulted calls too) without SEE_MASK_FLAG_NO_UI shows the shell's error box,
    // recorded in messageBoxes with the caption "Error" and owned by the structure's hwnd.
    std::vector<LaunchRecord> launches;
    bool fsutilStoresValue = true;
    int waitCount = 0;        // WaitForSingleObject calls on a launched process
    DWORD exitCode = 0;       // what every launched program ends with (GetExitCodeProcess)
    int openProcessCount = 0; // process handles handed out and not yet closed
    int openThreadCount = 0;  // thread handles (CreateProcessW) handed out and not yet closed

    // --- Modules. kernel32 exports SetDefaultDllDirectories only while this is true (Windows 8,
    // or 7 and Vista with the loader update). LoadLibraryW/LoadLibraryExW search a bare name as
    // Windows does (the program's folder, the system directory, the current directory) unless
    // LOAD_LIBRARY_SEARCH_SYSTEM32 limits them to the system directory; the DLL must exist as a
    // file. Only the system directory's shell32.dll exports anything (ShellExecuteExW).
    bool dllDirectoriesAvailable = true;
    std::vector<std::wstring> loadedLibraries; // paths of every DLL loaded, helpers included

    // --- Token and shutdown.
    bool tokenOpens = true;    // OpenProcessToken succeeds
    bool privilegeHeld = true; // else AdjustTokenPrivileges succeeds with ERROR_NOT_ALL_ASSIGNED
    // ExitWindowsEx fails with ERROR_PRIVILEGE_NOT_HELD unless the shutdown privilege was
    // enabled first; with it, it fails when this is false.
    bool exitSucceeds = true;
    struct ExitRequest {
        UINT flags = 0;
        DWORD reason = 0;
        bool operator==(const ExitRequest& other) const {
            return flags == other.flags && reason == other.reason;
        }
    };
    std::vector<ExitRequest> exitRequests; // every ExitWindowsEx call that was not faulted

    // --- Rights (security.cpp). From NT 6 on, GetTokenInformation(TokenElevation) reports
    // `elevated`; CheckTokenMembership finds the Administrators group when `member`. Both true
    // after Reset.
    void SetAdministrator(bool elevated, bool member);

    // --- Other processes (sync.cpp, process_control.cpp). RunAsOtherProcess runs `run` as a
    // second process of the program, started between two calls of the first: mutexes are owned
    // per process, and those it still owns when `run` returns are abandoned, as at its end.
    // SetProgramRunTime: how long a launched program runs, in clock ticks (kForever: until it is
    // ended); 0 after Reset.
    void RunAsOtherProcess(const std::function<void()>& run);
    void SetProgramRunTime(ULONGLONG ticks);
    int terminatedPrograms = 0; // TerminateProcess calls that ended a program

    // --- Message boxes: OK boxes return IDOK; the others are answered from the script in
    // order, and when it is empty with IDNO for Yes/No boxes.
    std::vector<int> messageBoxAnswers;
    std::vector<MessageBoxRecord> messageBoxes;

    // --- String resources of the running module (LoadStringW).
    void SetStringResource(UINT id, const std::wstring& text);

    // --- Call log and fault injection.
    std::vector<CallRecord> calls;
    std::vector<CallRecord> CallsTo(const std::string& function) const;
    // Make the nth call (1-based) of `function` fail with `error`; nth = 0 makes every call fail.
    // Calls are counted per function from the last Reset(), not from the injection, so a test
    // that injects after some calls names the call by its overall position.
    // Failing means what it means for that function on Windows (an error code returned, FALSE
    // with the last error set, INVALID_HANDLE_VALUE, INVALID_FILE_ATTRIBUTES, 0 characters).
    // AdjustTokenPrivileges "fails" with ERROR_NOT_ALL_ASSIGNED by succeeding with that last
    // error, as Windows does. GetPrivateProfileStringW "fails" by returning the default with the
    // error set, as it does for an unreadable file. A faulted call changes no state and is not
    // added to launches, messageBoxes or exitRequests, except that a faulted CloseHandle or
    // RegCloseKey still releases the handle (after a failed close there is nothing left to
    // close), and a faulted ShellExecuteExW shows the shell's error box like any failed launch.
    // GetCurrentProcess cannot fail on Windows and takes no faults.
    void InjectFault(const std::string& function, DWORD error, int nth = 0);
    void ClearFaults();
    // Runs `action` just before the nth call (1-based, counted like faults) of `function`, as
    // another process acting between two calls of the program. Runs once.
    void InjectAction(const std::string& function, int nth, std::function<void()> action);
    int PlatformCallCount() const { return static_cast<int>(calls.size()); }

    // --- A process can end between any two calls: a crash, a task ended, a session ended at
    // log-off, a power cut. EndBeforeCall arms the machine to keep its state as it is just before
    // the nth platform call (1-based, all functions together); the product then runs on as
    // usual, and LeaveEnded() makes the kept state what is left. The process's handles are
    // closed (a file it deleted while open loses its name then) and its process-wide settings
    // (DLL search, enabled privileges) are gone; faults and actions are cleared for the next
    // run. After a power cut, file data that was written but never flushed is lost, names
    // created, removed or renamed since the file was last flushed (or a rename not written
    // through) are as they were, and a deletion waiting for the last handle never happens. Registry
    // data is not modelled as lost: the program flushes every key it writes. LeaveEnded is false
    // when the run made fewer calls.
    enum class Ending { ProcessEnds, PowerCut };
    void EndBeforeCall(int nth, Ending ending);
    bool LeaveEnded();

    // Implementation state; the helpers in the sim's .cpp files use it.
    struct Impl;
    Impl& impl();

private:
    std::unique_ptr<Impl> impl_;
};

// The one machine behind the Win32 functions in this process.
Machine& TheMachine();

} // namespace sim
