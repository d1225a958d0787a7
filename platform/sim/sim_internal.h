// State and helpers shared by the simulated machine's source files; not for product code.
#pragma once

#include "machine.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

// ---- Text helpers (text.cpp)
std::wstring Upper(std::wstring_view s);
bool IEquals(std::wstring_view a, std::wstring_view b);
std::wstring Trim(std::wstring_view s); // spaces and tabs on both ends
std::wstring Str(LPCWSTR s);            // null reads as empty
std::vector<char16_t> ToUtf16(std::wstring_view s);
std::vector<BYTE> Utf16Bytes(std::wstring_view s, bool terminator);

// Absolute, normalised form "C:\dir\file" ("C:\" for a root); empty when `path` is empty.
std::wstring NormalizePath(std::wstring_view path, const std::wstring& currentDirectory);
std::wstring ParentPath(const std::wstring& normalized); // empty for a root
std::wstring LastComponent(const std::wstring& normalized);

// ---- Machine state
struct SimFile {
    std::wstring path; // spelling it was created with
    std::string content;
    DWORD attributes = FILE_ATTRIBUTE_ARCHIVE; // stored form: never NORMAL
    FileTimes times;
    // Another program's handle on the file: what it asked for, what it shares, and until when
    // (simulated clock) it keeps it.
    struct OtherHold {
        DWORD access = 0;
        DWORD share = 0;
        ULONGLONG until = 0;
        Machine::Hold kind = Machine::Hold::Scanner;
    };
    std::optional<OtherHold> otherHold;
    DWORD index = 0;
    std::wstring linkTarget; // a symbolic link (a reparse point) to this path when not empty
    // What the disk holds while written data still sits in the cache; unset when the content is
    // on the disk.
    std::optional<std::string> onDisk;
    // Deleted while open: this name (upper case) goes when the last handle closes.
    std::wstring deleteOnClose;
};

// Before the content of `file` changes: what is on the disk stays until it is flushed.
void BeginWrite(SimFile& file);

struct SimDirectory {
    std::wstring path;
    bool writable = true;
};

struct RegKey {
    std::wstring path;
    std::map<std::wstring, std::pair<std::wstring, RegValue>> values; // by upper-case name
    int flushes = 0;
    REGSAM granted = KEY_ALL_ACCESS; // what the key's DACL grants this process
};

struct KeyHandle {
    std::wstring path; // as the caller spelled it
    REGSAM access = 0;
};

// NulDevice: CreateFileW of the NUL device; Thread: a launched program's first thread.
enum class HandleKind { File, Process, Token, Mutex, NulDevice, Thread };

struct HandleObject {
    HandleKind kind = HandleKind::File;
    DWORD access = 0;
    // SECURITY_ATTRIBUTES.bInheritHandle at creation: CreateProcessW with bInheritHandles TRUE
    // gives the new program a copy.
    bool inheritable = false;
    // Files only. The handle keeps its file alive after DeleteFileW, as an open file does.
    std::shared_ptr<SimFile> file;
    DWORD share = 0;
    std::size_t position = 0;
    std::wstring objectName; // a named kernel object's name (mutexes)
};

// A named mutex: which simulated process owns it and how often, or whether its owner ended
// without releasing it.
struct SimMutex {
    DWORD owner = 0; // 0: nobody
    int count = 0;
    bool abandoned = false;
};

struct Fault {
    std::string function;
    DWORD error = 0;
    int nth = 0;
};

struct HoldBefore {
    std::string function;
    int nth = 0;
    ULONGLONG ticks = 0;
    Machine::Hold kind = Machine::Hold::Scanner;
};

struct Action {
    std::string function;
    int nth = 0;
    std::function<void()> run;
};

struct Machine::Impl {
    // Registry
    std::map<std::wstring, RegKey> keys; // by upper-case canonical path
    std::map<std::uintptr_t, KeyHandle> keyHandles;

    // Version and module
    DWORD major = 6, minor = 1, build = 7601, platformId = VER_PLATFORM_WIN32_NT;
    std::wstring modulePath;

    // Files
    std::map<std::wstring, SimDirectory> directories; // by upper-case normalised path
    std::map<std::wstring, std::shared_ptr<SimFile>> files;
    std::wstring currentDirectory;
    ULONGLONG clock = 0;
    DWORD nextFileIndex = 1;
    // Creation times of deleted files, for NTFS tunneling: a file created under the same name
    // within 15 seconds of the deletion gets the old creation time back.
    std::map<std::wstring, std::pair<ULONGLONG, ULONGLONG>> tunnel; // name -> {deleted at, created}

    // Kernel handles (files, processes, tokens); HKEYs come from the same counter
    std::map<std::uintptr_t, HandleObject> handles;
    std::uintptr_t nextHandle = 0x100;
    std::uintptr_t NewHandleValue() {
        nextHandle += 4;
        return nextHandle;
    }

    std::map<UINT, std::wstring> strings;

    // Environment (by upper-case name) and short names (folders.cpp): an administrator's on
    // Windows 7; "PARENT\SHORT" in upper case -> the long last component.
    std::map<std::wstring, std::wstring> environment = {
        {L"USERPROFILE", L"C:\\Users\\Admin"},
        {L"TEMP", L"C:\\Users\\Admin\\AppData\\Local\\Temp"},
        {L"TMP", L"C:\\Users\\Admin\\AppData\\Local\\Temp"}};
    std::map<std::wstring, std::wstring> shortNames;

    // DLL search
    bool searchLocked = false; // SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)
    bool currentDirectoryOutOfSearch = false; // SetDllDirectoryW(L"")

    bool shutdownEnabled = false; // SeShutdownPrivilege enabled in the process token

    DWORD lastError = 0;
    int endBeforeCall = 0;
    Machine::Ending ending = Machine::Ending::ProcessEnds;
    std::shared_ptr<Impl> endedState; // the state just before that call, once it was reached
    std::vector<Fault> faults;
    std::vector<Action> actions;
    std::vector<HoldBefore> holdsBefore;
    std::optional<HoldBefore> holdOnThisCall; // a hold taken just before the current call
    // Names changed since they were last put on the disk, with what each named before (null: no
    // file): a power cut undoes these changes.
    std::vector<std::pair<std::wstring, std::shared_ptr<SimFile>>> unflushedNames;
    std::map<std::string, int> callCounts; // since Reset

    // Processes and kernel objects (sync.cpp, security.cpp, process_control.cpp)
    DWORD processId = 1; // the simulated process running product code now
    DWORD nextProcessId = 2;
    std::map<std::wstring, SimMutex> mutexes; // by exact name: object names are case-sensitive
    std::map<std::uintptr_t, ULONGLONG> processEnds; // launched process -> clock when it ends
    ULONGLONG programRunTicks = 0;                   // how long a launched program runs
    bool tokenElevated = true;
    bool administratorsMember = true;
};

// ---- Call log and faults (calllog.cpp)
Machine::Impl& State();
// Logs the call; returns the error to fail with when a fault is injected for this call.
std::optional<DWORD> Enter(const char* function, const std::wstring& target = {}, DWORD detail = 0);
void SetError(DWORD error);

// ---- Modules (modules.cpp)
// A system DLL loading a helper by bare name, through the process's search order.
void LoadHelperLibrary(const std::wstring& name);

// ---- Kernel objects (sync.cpp, process_control.cpp)
// WaitForSingleObject on a mutex handle.
DWORD WaitForMutex(HandleObject& handle, DWORD milliseconds);
// The process `process` ended: the mutexes it owns are abandoned.
void AbandonMutexesOf(Machine::Impl& s, DWORD process);
// WaitForSingleObject on a process handle; the clock when a new launch ends.
DWORD WaitForProcess(std::uintptr_t handle, DWORD milliseconds);
ULONGLONG LaunchedProgramEnd(const Machine::Impl& s);

// ---- Registry (registry.cpp)
std::wstring CanonicalKeyPath(std::wstring_view path);

// ---- Files: the Win32 file calls (file_calls.cpp)
constexpr DWORD kDeleteAccess = 0x00010000u;    // DELETE
constexpr wchar_t kNulDevice[] = L"\\\\.\\NUL"; // the NUL device's name as recorded
// Whether an access mask reads or writes the data, after generic rights are mapped.
bool Reads(DWORD access);
bool Writes(DWORD access);
// Whether two opens of one file, each with its access and share mode, cannot stand together.
bool Clashes(DWORD access, DWORD share, DWORD otherAccess, DWORD otherShare);
// ERROR_SHARING_VIOLATION when an open with `access`/`share` clashes with the open handles.
DWORD ShareConflict(const SimFile& file, DWORD access, DWORD share);
HandleObject* FindHandle(HANDLE h, HandleKind kind);

// ---- Files: names, directories and links (names.cpp), shared with the profile and process code
std::wstring Resolve(LPCWSTR path); // against the current directory
std::shared_ptr<SimFile> FindFile(const Machine::Impl& s, const std::wstring& normalized);
// The path a name finally reaches through symbolic links (the name itself when it is none).
std::wstring FollowLinks(const Machine::Impl& s, const std::wstring& normalized);
DWORD LinkCount(const Machine::Impl& s, const SimFile& file); // names of the file
SimDirectory* FindDirectory(Machine::Impl& s, const std::wstring& normalized);
DWORD NotFoundError(const std::wstring& normalized); // file or path not found
DWORD StoredAttributes(DWORD attributes);            // what a file keeps of the given attributes
std::shared_ptr<SimFile> AddFile(Machine::Impl& s, const std::wstring& normalized,
                                 DWORD attributes);
void AddDirectoryPath(Machine::Impl& s, const std::wstring& normalized, bool writable);
// Removes the name of a file deleted while open once no handle refers to it.
void CompletePendingDelete(Machine::Impl& s, const std::shared_ptr<SimFile>& file);
DWORD ReportedAttributes(const SimFile& file);

// ---- Files: the disk's cache and what a power cut keeps (disk_cache.cpp)
// Before the product changes what `upperName` names: remembers what it named, for a power cut.
void NoteNameChange(Machine::Impl& s, const std::wstring& upperName);
// The names that now refer to `file` are on the disk.
void NamesReachDisk(Machine::Impl& s, const SimFile& file);
// What `upperName` names now is on the disk.
void NameReachesDisk(Machine::Impl& s, const std::wstring& upperName);
// The files as the disk has them once the process has ended (`powerCut`: with the machine): the
// cache is written out, or lost with the names and deletions it had not put on the disk.
void KeepWhatTheDiskHolds(Machine::Impl& left, bool powerCut);

// ---- Files: other programs (other_programs.cpp). Each refusal below is noted for the current
// call in Machine::refusedByOtherPrograms.
// ERROR_SHARING_VIOLATION when an open with `access`/`share` clashes with another program's hold.
DWORD OtherProgramConflict(const SimFile& file, DWORD access, DWORD share);
// Whether another program's open handle keeps the file (and a name deleted meanwhile) alive.
bool HeldOpenByOtherProgram(const Machine::Impl& s, const SimFile& file);
// ERROR_ACCESS_DENIED when the file's deletion is pending (noted when another program's handle
// is what it waits for); 0 otherwise.
DWORD DeletePending(const SimFile& file);
// ERROR_ACCESS_DENIED for a delete, ERROR_USER_MAPPED_FILE for a truncation, while another
// program maps the file; 0 otherwise.
DWORD MappedRefusal(const SimFile& file, bool truncates);
// ERROR_LOCK_VIOLATION while another program locks the file's bytes; 0 otherwise.
DWORD LockRefusal(const SimFile& file);
// Another program holds the file at `path` as `hold` says for `ticks` of simulated time; nothing
// when there is no such file or it cannot be opened beside the handles already open.
void TakeHold(Machine::Impl& s, const std::wstring& path, ULONGLONG ticks, Machine::Hold hold);
// Another program opens the file at `path` for reading, sharing read and write, as a scanner
// does (TakeHold with Hold::Scanner).
void OpenByScanner(Machine::Impl& s, const std::wstring& path, ULONGLONG ticks);
// After the clock moved: holds whose time is up end, and the names they kept go.
void OtherProgramsCatchUp(Machine::Impl& s);

} // namespace sim
