// File system: directories, files with attributes and times, handles with Windows' access and
// share checks, and the file functions built on them.
#include "sim_internal.h"

#include <algorithm>
#include <cstring>

namespace sim {

namespace {

constexpr DWORD kGenericAll = 0x10000000u;
constexpr DWORD kGenericExecute = 0x20000000u;
constexpr DWORD kReadData = 0x0001u;
constexpr DWORD kWriteData = 0x0002u;
constexpr DWORD kAppendData = 0x0004u;
constexpr DWORD kExecute = 0x0020u;
// Attributes SetFileAttributesW and CreateFileW can store (temporary, offline, not indexed too).
constexpr DWORD kSettableAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                      FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE | 0x0100u |
                                      0x1000u | 0x2000u;
// What another process holding a file open "with no sharing" asked for.
constexpr DWORD kHeldAccess = GENERIC_READ | GENERIC_WRITE | kDeleteAccess;

bool Reads(DWORD a) {
    return (a & (GENERIC_READ | kGenericAll | kGenericExecute | kReadData | kExecute)) != 0;
}
bool Writes(DWORD a) {
    return (a & (GENERIC_WRITE | kGenericAll | kWriteData | kAppendData)) != 0;
}
bool Deletes(DWORD a) {
    return (a & (kDeleteAccess | kGenericAll)) != 0;
}
// Only opens that touch the data (or ask to delete) take part in share checks.
bool UsesData(DWORD a) {
    return Reads(a) || Writes(a) || Deletes(a);
}

bool Clashes(DWORD access, DWORD share, DWORD otherAccess, DWORD otherShare) {
    if (!UsesData(access) || !UsesData(otherAccess)) {
        return false;
    }
    return (Reads(access) && !(otherShare & FILE_SHARE_READ)) ||
           (Writes(access) && !(otherShare & FILE_SHARE_WRITE)) ||
           (Deletes(access) && !(otherShare & FILE_SHARE_DELETE)) ||
           (Reads(otherAccess) && !(share & FILE_SHARE_READ)) ||
           (Writes(otherAccess) && !(share & FILE_SHARE_WRITE)) ||
           (Deletes(otherAccess) && !(share & FILE_SHARE_DELETE));
}

ULONGLONG Ticks(const FILETIME& t) {
    return (static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

FILETIME ToFileTime(ULONGLONG ticks) {
    return FILETIME{static_cast<DWORD>(ticks & 0xFFFFFFFFu), static_cast<DWORD>(ticks >> 32)};
}

DWORD StoredAttributes(DWORD attributes) {
    return attributes & kSettableAttributes;
}

BOOL Fail(DWORD error) {
    SetError(error);
    return FALSE;
}

HANDLE FailHandle(DWORD error) {
    SetError(error);
    return INVALID_HANDLE_VALUE;
}

std::wstring HandleTarget(HANDLE h) {
    HandleObject* o = FindHandle(h, HandleKind::File);
    return o ? o->file->path : std::wstring();
}

// The file handle a call that changes the file works on, once its log entry, an injected fault
// and the handle's write access have been checked; null with the last error set otherwise.
HandleObject* WritingHandle(const char* function, HANDLE hFile) {
    if (auto fault = Enter(function, HandleTarget(hFile))) {
        SetError(*fault);
        return nullptr;
    }
    HandleObject* o = FindHandle(hFile, HandleKind::File);
    if (!o) {
        SetError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (!Writes(o->access)) {
        SetError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    return o;
}

// A handle CreateFileW hands out for `object` (a file or a device), with the last error set.
HANDLE OpenedHandle(HandleObject object, DWORD access, DWORD share, bool inheritable,
                    DWORD lastError) {
    auto& s = State();
    const std::uintptr_t value = s.NewHandleValue();
    object.access = access;
    object.share = share;
    object.inheritable = inheritable;
    s.handles[value] = std::move(object);
    SetError(lastError);
    return reinterpret_cast<HANDLE>(value);
}

} // namespace

// Written data reaches the disk when the cache is flushed; until then a power cut loses it
// (Microsoft, "File Caching"; FlushFileBuffers).
void BeginWrite(SimFile& file) {
    if (!file.onDisk) {
        file.onDisk = file.content;
    }
}

std::wstring Resolve(LPCWSTR path) {
    return NormalizePath(Str(path), State().currentDirectory);
}

std::shared_ptr<SimFile> FindFile(const Machine::Impl& s, const std::wstring& normalized) {
    auto it = s.files.find(Upper(normalized));
    return it == s.files.end() ? nullptr : it->second;
}

std::wstring FollowLinks(const Machine::Impl& s, const std::wstring& normalized) {
    std::wstring path = normalized;
    // Windows gives up after a bounded number of reparse points too.
    for (int hops = 0; hops < 32; ++hops) {
        auto file = FindFile(s, path);
        if (!file || file->linkTarget.empty()) {
            break;
        }
        path = NormalizePath(file->linkTarget, s.currentDirectory);
    }
    return path;
}

DWORD LinkCount(const Machine::Impl& s, const SimFile& file) {
    return static_cast<DWORD>(std::count_if(s.files.begin(), s.files.end(), [&](const auto& entry) {
        return entry.second.get() == &file;
    }));
}

SimDirectory* FindDirectory(Machine::Impl& s, const std::wstring& normalized) {
    auto it = s.directories.find(Upper(normalized));
    return it == s.directories.end() ? nullptr : &it->second;
}

DWORD NotFoundError(const std::wstring& normalized) {
    const std::wstring parent = ParentPath(normalized);
    return parent.empty() || FindDirectory(State(), parent) ? ERROR_FILE_NOT_FOUND
                                                            : ERROR_PATH_NOT_FOUND;
}

DWORD ShareConflict(const SimFile& file, DWORD access, DWORD share) {
    const auto& hold = file.otherHold;
    if (hold && State().clock < hold->until && Clashes(access, share, hold->access, hold->share)) {
        return ERROR_SHARING_VIOLATION;
    }
    for (const auto& [value, o] : State().handles) {
        if (o.kind == HandleKind::File && o.file.get() == &file &&
            Clashes(access, share, o.access, o.share)) {
            return ERROR_SHARING_VIOLATION;
        }
    }
    return 0;
}

std::shared_ptr<SimFile> AddFile(Machine::Impl& s, const std::wstring& normalized,
                                 DWORD attributes) {
    auto file = std::make_shared<SimFile>();
    file->path = normalized;
    file->attributes = StoredAttributes(attributes);
    file->times = FileTimes{s.clock, s.clock, s.clock};
    constexpr ULONGLONG kTunnelWindow = 15ull * 10000000ull;
    auto tunnelled = s.tunnel.find(Upper(normalized));
    if (tunnelled != s.tunnel.end()) {
        if (s.clock >= tunnelled->second.first &&
            s.clock - tunnelled->second.first <= kTunnelWindow) {
            file->times.creation = tunnelled->second.second;
        }
        s.tunnel.erase(tunnelled);
    }
    file->index = s.nextFileIndex++;
    s.files[Upper(normalized)] = file;
    return file;
}

void OpenByScanner(Machine::Impl& s, const std::wstring& path, ULONGLONG ticks) {
    const auto file = FindFile(s, path);
    constexpr DWORD kShare = FILE_SHARE_READ | FILE_SHARE_WRITE;
    if (!file || !file->deleteOnClose.empty() || ShareConflict(*file, GENERIC_READ, kShare) != 0) {
        return;
    }
    const ULONGLONG until =
        ticks >= Machine::kForever - s.clock ? Machine::kForever : s.clock + ticks;
    file->otherHold = SimFile::OtherHold{GENERIC_READ, kShare, until};
}

void NoteNameChange(Machine::Impl& s, const std::wstring& upperName) {
    for (const auto& [name, before] : s.unflushedNames) {
        if (name == upperName) {
            return; // the disk still has what it named first
        }
    }
    const auto it = s.files.find(upperName);
    s.unflushedNames.emplace_back(upperName, it == s.files.end() ? nullptr : it->second);
}

void NamesReachDisk(Machine::Impl& s, const SimFile& file) {
    auto& names = s.unflushedNames;
    names.erase(std::remove_if(names.begin(), names.end(),
                               [&](const auto& entry) {
                                   const auto now = s.files.find(entry.first);
                                   return now != s.files.end() && now->second.get() == &file;
                               }),
                names.end());
}

void NameReachesDisk(Machine::Impl& s, const std::wstring& upperName) {
    auto& names = s.unflushedNames;
    names.erase(std::remove_if(names.begin(), names.end(),
                               [&](const auto& entry) { return entry.first == upperName; }),
                names.end());
}

void CompletePendingDelete(Machine::Impl& s, const std::shared_ptr<SimFile>& file) {
    if (file->deleteOnClose.empty()) {
        return;
    }
    for (const auto& [value, o] : s.handles) {
        if (o.file == file) {
            return;
        }
    }
    const auto name = s.files.find(file->deleteOnClose);
    if (name != s.files.end() && name->second == file) {
        NoteNameChange(s, name->first);
        s.files.erase(name);
    }
    file->deleteOnClose.clear();
}

void AddDirectoryPath(Machine::Impl& s, const std::wstring& normalized, bool writable) {
    const std::wstring parent = ParentPath(normalized);
    if (!parent.empty() && !FindDirectory(s, parent)) {
        AddDirectoryPath(s, parent, true);
    }
    auto [it, added] = s.directories.try_emplace(Upper(normalized));
    if (added) {
        it->second.path = normalized;
    }
    it->second.writable = writable;
}

HandleObject* FindHandle(HANDLE h, HandleKind kind) {
    auto& handles = State().handles;
    auto it = handles.find(reinterpret_cast<std::uintptr_t>(h));
    return it != handles.end() && it->second.kind == kind ? &it->second : nullptr;
}

DWORD ReportedAttributes(const SimFile& file) {
    const DWORD link = file.linkTarget.empty() ? 0 : FILE_ATTRIBUTE_REPARSE_POINT;
    return file.attributes == 0 && link == 0 ? FILE_ATTRIBUTE_NORMAL : file.attributes | link;
}

// ---- Test-facing helpers

void Machine::AddDirectory(const std::wstring& path, bool writable) {
    AddDirectoryPath(*impl_, NormalizePath(path, impl_->currentDirectory), writable);
}

void Machine::SetDirectoryWritable(const std::wstring& path, bool writable) {
    AddDirectory(path, writable);
}

void Machine::SetCurrentDirectory(const std::wstring& path) {
    const std::wstring normalized = NormalizePath(path, impl_->currentDirectory);
    if (!FindDirectory(*impl_, normalized)) {
        AddDirectoryPath(*impl_, normalized, true);
    }
    impl_->currentDirectory = FindDirectory(*impl_, normalized)->path;
}

std::wstring Machine::CurrentDirectory() const {
    return impl_->currentDirectory;
}

void Machine::PutFile(const std::wstring& path, const std::string& content, DWORD attributes) {
    const std::wstring normalized = NormalizePath(path, impl_->currentDirectory);
    const std::wstring parent = ParentPath(normalized);
    if (!parent.empty() && !FindDirectory(*impl_, parent)) {
        AddDirectoryPath(*impl_, parent, true);
    }
    auto file = FindFile(*impl_, normalized);
    if (!file) {
        impl_->tunnel.erase(Upper(normalized)); // a file put by the test is brand new
        file = AddFile(*impl_, normalized, attributes);
    }
    file->content = content;
    file->onDisk.reset();
    file->attributes = StoredAttributes(attributes);
    file->times.lastWrite = impl_->clock;
}

void Machine::AddHardLink(const std::wstring& existing, const std::wstring& link) {
    auto file = FindFile(*impl_, NormalizePath(existing, impl_->currentDirectory));
    const std::wstring name = NormalizePath(link, impl_->currentDirectory);
    if (file && !FindFile(*impl_, name)) {
        impl_->files[Upper(name)] = file;
    }
}

void Machine::AddSymbolicLink(const std::wstring& link, const std::wstring& target) {
    const std::wstring name = NormalizePath(link, impl_->currentDirectory);
    if (!FindFile(*impl_, name)) {
        AddFile(*impl_, name, FILE_ATTRIBUTE_ARCHIVE)->linkTarget = target;
    }
}

void Machine::SetFileTimes(const std::wstring& path, const FileTimes& times) {
    if (auto file = FindFile(*impl_, NormalizePath(path, impl_->currentDirectory))) {
        file->times = times;
    }
}

bool Machine::FileExists(const std::wstring& path) const {
    return FindFile(*impl_, NormalizePath(path, impl_->currentDirectory)) != nullptr;
}

std::optional<std::string> Machine::FileContent(const std::wstring& path) const {
    auto file = FindFile(*impl_, NormalizePath(path, impl_->currentDirectory));
    return file ? std::optional<std::string>(file->content) : std::nullopt;
}

std::optional<DWORD> Machine::FileAttributes(const std::wstring& path) const {
    auto file = FindFile(*impl_, NormalizePath(path, impl_->currentDirectory));
    return file ? std::optional<DWORD>(ReportedAttributes(*file)) : std::nullopt;
}

std::optional<FileTimes> Machine::FileTimesOf(const std::wstring& path) const {
    auto file = FindFile(*impl_, NormalizePath(path, impl_->currentDirectory));
    return file ? std::optional<FileTimes>(file->times) : std::nullopt;
}

void Machine::HoldOpenByOtherProcess(const std::wstring& path, bool held) {
    if (auto file = FindFile(*impl_, NormalizePath(path, impl_->currentDirectory))) {
        file->otherHold.reset();
        if (held) {
            file->otherHold = SimFile::OtherHold{kHeldAccess, 0, kForever};
        }
    }
}

int Machine::OpenFileHandleCount() const {
    return static_cast<int>(
        std::count_if(impl_->handles.begin(), impl_->handles.end(), [](const auto& entry) {
            return entry.second.kind == HandleKind::File ||
                   entry.second.kind == HandleKind::NulDevice;
        }));
}

void Machine::SetClock(ULONGLONG fileTimeTicks) {
    impl_->clock = fileTimeTicks;
}

ULONGLONG Machine::Clock() const {
    return impl_->clock;
}

void Machine::HoldBeforeCall(const std::string& function, int nth, ULONGLONG ticks) {
    impl_->holdsBefore.push_back(HoldBefore{function, nth, ticks});
}

} // namespace sim

using namespace sim;

HANDLE CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                   LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                   DWORD dwFlagsAndAttributes, HANDLE /*hTemplateFile*/) {
    const bool nul = IEquals(Str(lpFileName), L"NUL") || IEquals(Str(lpFileName), kNulDevice);
    const std::wstring name = nul ? std::wstring(kNulDevice) : Resolve(lpFileName);
    if (auto fault = Enter("CreateFileW", name, dwDesiredAccess)) {
        return FailHandle(*fault);
    }
    auto& s = State();
    // CreateFileW, lpSecurityAttributes: "If this parameter is NULL, the handle returned by
    // CreateFile cannot be inherited by any child processes the application may create".
    const bool inheritable = lpSecurityAttributes && lpSecurityAttributes->bInheritHandle;
    if (nul) {
        // The device takes any data written and gives none; only opening it is modelled.
        if (dwCreationDisposition != OPEN_EXISTING && dwCreationDisposition != OPEN_ALWAYS) {
            return FailHandle(ERROR_INVALID_PARAMETER);
        }
        HandleObject device;
        device.kind = HandleKind::NulDevice;
        device.objectName = kNulDevice;
        return OpenedHandle(std::move(device), dwDesiredAccess, dwShareMode, inheritable,
                            ERROR_SUCCESS);
    }
    const bool linkItself = (dwFlagsAndAttributes & FILE_FLAG_OPEN_REPARSE_POINT) != 0;
    const std::wstring path = linkItself ? name : FollowLinks(s, name);
    if (path.empty()) {
        return FailHandle(ERROR_PATH_NOT_FOUND);
    }
    if (dwCreationDisposition < CREATE_NEW || dwCreationDisposition > TRUNCATE_EXISTING) {
        return FailHandle(ERROR_INVALID_PARAMETER);
    }
    if (FindDirectory(s, path)) {
        return FailHandle(ERROR_ACCESS_DENIED);
    }
    const SimDirectory* parent = FindDirectory(s, ParentPath(path));
    if (!parent) {
        return FailHandle(ERROR_PATH_NOT_FOUND);
    }
    const bool truncates =
        dwCreationDisposition == CREATE_ALWAYS || dwCreationDisposition == TRUNCATE_EXISTING;
    auto file = FindFile(s, path);
    DWORD lastError = ERROR_SUCCESS;
    if (file) {
        if (dwCreationDisposition == CREATE_NEW) {
            return FailHandle(ERROR_FILE_EXISTS);
        }
        // DeleteFileW: "Subsequent calls to CreateFile to open the file fail with
        // ERROR_ACCESS_DENIED" while the deletion waits for the last handle.
        if (!file->deleteOnClose.empty()) {
            return FailHandle(ERROR_ACCESS_DENIED);
        }
        if (dwCreationDisposition == TRUNCATE_EXISTING && !Writes(dwDesiredAccess)) {
            return FailHandle(ERROR_INVALID_PARAMETER);
        }
        const bool modifies = Writes(dwDesiredAccess) || truncates;
        if (modifies && ((file->attributes & FILE_ATTRIBUTE_READONLY) || !parent->writable)) {
            return FailHandle(ERROR_ACCESS_DENIED);
        }
        // Overwriting a hidden or system file must name those attributes again.
        const DWORD guarded = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
        if (dwCreationDisposition == CREATE_ALWAYS &&
            (file->attributes & guarded & ~dwFlagsAndAttributes) != 0) {
            return FailHandle(ERROR_ACCESS_DENIED);
        }
        if (DWORD e = ShareConflict(*file, dwDesiredAccess, dwShareMode)) {
            return FailHandle(e);
        }
        if (truncates) {
            BeginWrite(*file);
            file->content.clear();
            file->times.lastWrite = s.clock;
            file->times.lastAccess = s.clock;
        }
        if (dwCreationDisposition == CREATE_ALWAYS) {
            file->attributes = StoredAttributes(dwFlagsAndAttributes) | FILE_ATTRIBUTE_ARCHIVE;
        }
        if (dwCreationDisposition == CREATE_ALWAYS || dwCreationDisposition == OPEN_ALWAYS) {
            lastError = ERROR_ALREADY_EXISTS;
        }
    } else {
        if (dwCreationDisposition == OPEN_EXISTING || dwCreationDisposition == TRUNCATE_EXISTING) {
            return FailHandle(ERROR_FILE_NOT_FOUND);
        }
        if (!parent->writable) {
            return FailHandle(ERROR_ACCESS_DENIED);
        }
        NoteNameChange(s, Upper(path));
        file = AddFile(s, path, StoredAttributes(dwFlagsAndAttributes) | FILE_ATTRIBUTE_ARCHIVE);
    }
    HandleObject opened;
    opened.file = file;
    return OpenedHandle(std::move(opened), dwDesiredAccess, dwShareMode, inheritable, lastError);
}

BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
              LPDWORD lpNumberOfBytesRead, LPOVERLAPPED lpOverlapped) {
    auto fault = Enter("ReadFile", HandleTarget(hFile), nNumberOfBytesToRead);
    if (lpNumberOfBytesRead) {
        *lpNumberOfBytesRead = 0;
    }
    if (fault) {
        return Fail(*fault);
    }
    HandleObject* o = FindHandle(hFile, HandleKind::File);
    if (!o) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    if (lpOverlapped || !lpNumberOfBytesRead || (!lpBuffer && nNumberOfBytesToRead > 0)) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    if (!Reads(o->access)) {
        return Fail(ERROR_ACCESS_DENIED);
    }
    const std::string& content = o->file->content;
    const std::size_t available = o->position < content.size() ? content.size() - o->position : 0;
    const std::size_t count = std::min<std::size_t>(available, nNumberOfBytesToRead);
    if (count > 0) {
        std::memcpy(lpBuffer, content.data() + o->position, count);
    }
    o->position += count;
    *lpNumberOfBytesRead = static_cast<DWORD>(count);
    return TRUE;
}

BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
               LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped) {
    auto fault = Enter("WriteFile", HandleTarget(hFile), nNumberOfBytesToWrite);
    if (lpNumberOfBytesWritten) {
        *lpNumberOfBytesWritten = 0;
    }
    if (fault) {
        return Fail(*fault);
    }
    HandleObject* o = FindHandle(hFile, HandleKind::File);
    if (!o) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    if (lpOverlapped || !lpNumberOfBytesWritten || (!lpBuffer && nNumberOfBytesToWrite > 0)) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    if (!Writes(o->access)) {
        return Fail(ERROR_ACCESS_DENIED);
    }
    // FILE_APPEND_DATA without write data: "the caller can write only to the end of the file".
    if ((o->access & kAppendData) != 0 &&
        (o->access & (GENERIC_WRITE | kGenericAll | kWriteData)) == 0) {
        o->position = o->file->content.size();
    }
    if (nNumberOfBytesToWrite > 0) {
        SimFile& file = *o->file;
        BeginWrite(file);
        const std::size_t end = o->position + nNumberOfBytesToWrite;
        if (file.content.size() < end) {
            file.content.resize(end, '\0');
        }
        std::memcpy(&file.content[o->position], lpBuffer, nNumberOfBytesToWrite);
        o->position = end;
        file.times.lastWrite = State().clock;
        file.attributes |= FILE_ATTRIBUTE_ARCHIVE;
    }
    *lpNumberOfBytesWritten = nNumberOfBytesToWrite;
    return TRUE;
}

BOOL SetEndOfFile(HANDLE hFile) {
    HandleObject* o = WritingHandle("SetEndOfFile", hFile);
    if (!o) {
        return FALSE;
    }
    BeginWrite(*o->file);
    o->file->content.resize(o->position, '\0');
    o->file->times.lastWrite = State().clock;
    return TRUE;
}

BOOL GetFileInformationByHandle(HANDLE hFile, BY_HANDLE_FILE_INFORMATION* lpFileInformation) {
    if (auto fault = Enter("GetFileInformationByHandle", HandleTarget(hFile))) {
        return Fail(*fault);
    }
    HandleObject* o = FindHandle(hFile, HandleKind::File);
    if (!o) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    if (!lpFileInformation) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    if (!(o->access & (GENERIC_READ | kGenericAll | FILE_READ_ATTRIBUTES))) {
        return Fail(ERROR_ACCESS_DENIED);
    }
    const SimFile& file = *o->file;
    const auto size = static_cast<ULONGLONG>(file.content.size());
    *lpFileInformation = BY_HANDLE_FILE_INFORMATION{ReportedAttributes(file),
                                                    ToFileTime(file.times.creation),
                                                    ToFileTime(file.times.lastAccess),
                                                    ToFileTime(file.times.lastWrite),
                                                    0x5A1E7C0Du,
                                                    static_cast<DWORD>(size >> 32),
                                                    static_cast<DWORD>(size & 0xFFFFFFFFu),
                                                    LinkCount(State(), file),
                                                    0,
                                                    file.index};
    return TRUE;
}

BOOL SetFileTime(HANDLE hFile, const FILETIME* lpCreationTime, const FILETIME* lpLastAccessTime,
                 const FILETIME* lpLastWriteTime) {
    if (auto fault = Enter("SetFileTime", HandleTarget(hFile))) {
        return Fail(*fault);
    }
    HandleObject* o = FindHandle(hFile, HandleKind::File);
    if (!o) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    if (!(o->access & (GENERIC_WRITE | kGenericAll | FILE_WRITE_ATTRIBUTES))) {
        return Fail(ERROR_ACCESS_DENIED);
    }
    // A null pointer or a zero time leaves that stamp alone, as on Windows.
    const auto apply = [](const FILETIME* given, ULONGLONG& stamp) {
        if (given && Ticks(*given) != 0) {
            stamp = Ticks(*given);
        }
    };
    FileTimes& times = o->file->times;
    apply(lpCreationTime, times.creation);
    apply(lpLastAccessTime, times.lastAccess);
    apply(lpLastWriteTime, times.lastWrite);
    return TRUE;
}

BOOL CloseHandle(HANDLE hObject) {
    auto& s = State();
    auto it = s.handles.find(reinterpret_cast<std::uintptr_t>(hObject));
    const std::wstring target = it != s.handles.end() && it->second.kind == HandleKind::File
                                    ? it->second.file->path
                                    : std::wstring();
    const auto fault = Enter("CloseHandle", target);
    // INVALID_HANDLE_VALUE counts as invalid here so closing a failed CreateFileW result shows.
    if (it == s.handles.end()) {
        return Fail(fault ? *fault : ERROR_INVALID_HANDLE);
    }
    if (it->second.kind == HandleKind::Process) {
        TheMachine().openProcessCount--;
    }
    if (it->second.kind == HandleKind::Thread) {
        TheMachine().openThreadCount--;
    }
    const std::shared_ptr<SimFile> file = it->second.file;
    const bool wrote = Writes(it->second.access);
    s.handles.erase(it); // even when faulted: a failed close leaves nothing to close again
    if (file) {
        CompletePendingDelete(s, file);
        if (wrote && TheMachine().scannerHold) {
            OpenByScanner(s, file->path, *TheMachine().scannerHold);
        }
    }
    return fault ? Fail(*fault) : TRUE;
}

DWORD GetFileAttributesW(LPCWSTR lpFileName) {
    const std::wstring path = Resolve(lpFileName);
    if (auto fault = Enter("GetFileAttributesW", path)) {
        SetError(*fault);
        return INVALID_FILE_ATTRIBUTES;
    }
    auto& s = State();
    if (FindDirectory(s, path)) {
        return FILE_ATTRIBUTE_DIRECTORY;
    }
    if (auto file = FindFile(s, path)) {
        return ReportedAttributes(*file);
    }
    SetError(path.empty() ? ERROR_PATH_NOT_FOUND : NotFoundError(path));
    return INVALID_FILE_ATTRIBUTES;
}

BOOL GetFileAttributesExW(LPCWSTR lpFileName, GET_FILEEX_INFO_LEVELS fInfoLevelId,
                          LPVOID lpFileInformation) {
    const std::wstring path = Resolve(lpFileName);
    if (auto fault = Enter("GetFileAttributesExW", path)) {
        return Fail(*fault);
    }
    if (fInfoLevelId != GetFileExInfoStandard || !lpFileInformation) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    auto& s = State();
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (FindDirectory(s, path)) {
        data.dwFileAttributes = FILE_ATTRIBUTE_DIRECTORY;
    } else if (auto file = FindFile(s, path)) {
        const auto size = static_cast<ULONGLONG>(file->content.size());
        data.dwFileAttributes = ReportedAttributes(*file);
        data.ftCreationTime = ToFileTime(file->times.creation);
        data.ftLastAccessTime = ToFileTime(file->times.lastAccess);
        data.ftLastWriteTime = ToFileTime(file->times.lastWrite);
        data.nFileSizeHigh = static_cast<DWORD>(size >> 32);
        data.nFileSizeLow = static_cast<DWORD>(size & 0xFFFFFFFFu);
    } else {
        return Fail(path.empty() ? ERROR_PATH_NOT_FOUND : NotFoundError(path));
    }
    std::memcpy(lpFileInformation, &data, sizeof data);
    return TRUE;
}

BOOL SetFileAttributesW(LPCWSTR lpFileName, DWORD dwFileAttributes) {
    const std::wstring path = Resolve(lpFileName);
    if (auto fault = Enter("SetFileAttributesW", path, dwFileAttributes)) {
        return Fail(*fault);
    }
    auto& s = State();
    if (FindDirectory(s, path)) {
        return TRUE; // directories keep no attributes of their own here
    }
    auto file = FindFile(s, path);
    if (!file) {
        return Fail(path.empty() ? ERROR_PATH_NOT_FOUND : NotFoundError(path));
    }
    // NORMAL means "none"; any other bit outside the settable set is ignored.
    file->attributes = StoredAttributes(dwFileAttributes);
    return TRUE;
}

BOOL DeleteFileW(LPCWSTR lpFileName) {
    const std::wstring path = Resolve(lpFileName);
    if (auto fault = Enter("DeleteFileW", path)) {
        return Fail(*fault);
    }
    auto& s = State();
    if (FindDirectory(s, path)) {
        return Fail(ERROR_ACCESS_DENIED);
    }
    auto file = FindFile(s, path);
    if (!file) {
        return Fail(path.empty() ? ERROR_PATH_NOT_FOUND : NotFoundError(path));
    }
    if (!FindDirectory(s, ParentPath(path))->writable || !file->deleteOnClose.empty()) {
        return Fail(ERROR_ACCESS_DENIED);
    }
    const DWORD shareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    if (DWORD e = ShareConflict(*file, kDeleteAccess, shareAll)) {
        return Fail(e);
    }
    if (file->attributes & FILE_ATTRIBUTE_READONLY) {
        return Fail(ERROR_ACCESS_DENIED);
    }
    s.tunnel[Upper(path)] = {s.clock, file->times.creation};
    // DeleteFileW "marks a file for deletion on close": while handles (all sharing delete) are
    // open, the name stays.
    file->deleteOnClose = Upper(path);
    CompletePendingDelete(s, file);
    return TRUE;
}

BOOL CopyFileW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName, BOOL bFailIfExists) {
    const std::wstring from = Resolve(lpExistingFileName);
    const std::wstring to = Resolve(lpNewFileName);
    if (auto fault = Enter("CopyFileW", to, static_cast<DWORD>(bFailIfExists))) {
        return Fail(*fault);
    }
    auto& s = State();
    if (s.holdOnThisCall) {
        OpenByScanner(s, FollowLinks(s, from), *s.holdOnThisCall); // the source is named too
    }
    // The source is opened first, for reading, sharing read and delete.
    if (from.empty() || to.empty()) {
        return Fail(ERROR_PATH_NOT_FOUND);
    }
    if (FindDirectory(s, from)) {
        return Fail(ERROR_ACCESS_DENIED);
    }
    auto source = FindFile(s, FollowLinks(s, from));
    if (!source) {
        return Fail(NotFoundError(from));
    }
    if (!source->deleteOnClose.empty()) {
        return Fail(ERROR_ACCESS_DENIED);
    }
    if (DWORD e = ShareConflict(*source, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE)) {
        return Fail(e);
    }
    // Then the destination, for writing, sharing nothing.
    if (FindDirectory(s, to)) {
        return Fail(ERROR_ACCESS_DENIED);
    }
    const SimDirectory* parent = FindDirectory(s, ParentPath(to));
    if (!parent) {
        return Fail(ERROR_PATH_NOT_FOUND);
    }
    auto target = FindFile(s, to);
    if (target) {
        if (bFailIfExists) {
            return Fail(ERROR_FILE_EXISTS);
        }
        // CopyFileW: an existing destination that is hidden or read-only is refused.
        if (!parent->writable || !target->deleteOnClose.empty() ||
            (target->attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN)) != 0) {
            return Fail(ERROR_ACCESS_DENIED);
        }
        if (target == source) {
            return Fail(ERROR_SHARING_VIOLATION);
        }
        if (DWORD e = ShareConflict(*target, GENERIC_WRITE | kDeleteAccess, 0)) {
            return Fail(e);
        }
    } else {
        if (!parent->writable) {
            return Fail(ERROR_ACCESS_DENIED);
        }
        NoteNameChange(s, Upper(to));
        target = AddFile(s, to, 0);
    }
    BeginWrite(*target);
    target->content = source->content;
    target->attributes = source->attributes | FILE_ATTRIBUTE_ARCHIVE;
    target->times.lastWrite = source->times.lastWrite;
    target->times.lastAccess = s.clock;
    if (TheMachine().scannerHold) {
        OpenByScanner(s, to, *TheMachine().scannerHold);
    }
    return TRUE;
}

BOOL FlushFileBuffers(HANDLE hFile) {
    // FlushFileBuffers: "The handle must have the GENERIC_WRITE access right".
    HandleObject* o = WritingHandle("FlushFileBuffers", hFile);
    if (!o) {
        return FALSE;
    }
    o->file->onDisk.reset();
    // "File Caching": flushing the file also puts its metadata, the names it has, on the disk.
    NamesReachDisk(State(), *o->file);
    return TRUE;
}

BOOL MoveFileExW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName, DWORD dwFlags) {
    const std::wstring from = Resolve(lpExistingFileName);
    const std::wstring to = Resolve(lpNewFileName);
    if (auto fault = Enter("MoveFileExW", to, dwFlags)) {
        return Fail(*fault);
    }
    auto& s = State();
    if (s.holdOnThisCall) {
        OpenByScanner(s, from, *s.holdOnThisCall); // the source is named too
    }
    if ((dwFlags & ~MOVEFILE_WRITE_THROUGH) != 0) {
        return Fail(ERROR_INVALID_PARAMETER); // the other flags are not modelled
    }
    if (from.empty() || to.empty()) {
        return Fail(ERROR_PATH_NOT_FOUND);
    }
    auto file = FindFile(s, from);
    if (!file) {
        return Fail(FindDirectory(s, from) ? ERROR_ACCESS_DENIED : NotFoundError(from));
    }
    // No page says what a rename does with a link; the stricter reading refuses it.
    if (!file->linkTarget.empty()) {
        return Fail(ERROR_ACCESS_DENIED);
    }
    const SimDirectory* target = FindDirectory(s, ParentPath(to));
    if (!target) {
        return Fail(ERROR_PATH_NOT_FOUND);
    }
    if (!FindDirectory(s, ParentPath(from))->writable || !target->writable ||
        !file->deleteOnClose.empty()) {
        return Fail(ERROR_ACCESS_DENIED);
    }
    // The rename opens the source for DELETE, so every open handle must share delete
    // (test_MoveFileA, dlls/kernel32/tests/file.c: ERROR_SHARING_VIOLATION beside such a handle).
    const DWORD shareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    if (DWORD e = ShareConflict(*file, kDeleteAccess, shareAll)) {
        return Fail(e);
    }
    // test_file_rename_information (dlls/ntdll/tests/file.c): an existing directory collides
    // like a file.
    if (FindDirectory(s, to)) {
        return Fail(ERROR_ALREADY_EXISTS);
    }
    if (auto existing = FindFile(s, to); existing && existing != file) {
        // MoveFileExW: without MOVEFILE_REPLACE_EXISTING an existing name is never replaced.
        return Fail(ERROR_ALREADY_EXISTS);
    }
    // "File Caching": metadata is cached too, so a rename not written through may be lost at a
    // power cut; MOVEFILE_WRITE_THROUGH returns only once it is on the disk.
    NoteNameChange(s, Upper(from));
    NoteNameChange(s, Upper(to));
    s.files.erase(Upper(from));
    s.files[Upper(to)] = file;
    file->path = to;
    if ((dwFlags & MOVEFILE_WRITE_THROUGH) != 0) {
        NameReachesDisk(s, Upper(from));
        NameReachesDisk(s, Upper(to));
    }
    return TRUE;
}
