// The Win32 file calls: handles with Windows' access and share checks, reading, writing, copying,
// renaming and deleting.
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

bool Deletes(DWORD a) {
    return (a & (kDeleteAccess | kGenericAll)) != 0;
}
// Only opens that touch the data (or ask to delete) take part in share checks.
bool UsesData(DWORD a) {
    return Reads(a) || Writes(a) || Deletes(a);
}

ULONGLONG Ticks(const FILETIME& t) {
    return (static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

FILETIME ToFileTime(ULONGLONG ticks) {
    return FILETIME{static_cast<DWORD>(ticks & 0xFFFFFFFFu), static_cast<DWORD>(ticks >> 32)};
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

bool Reads(DWORD a) {
    return (a & (GENERIC_READ | kGenericAll | kGenericExecute | kReadData | kExecute)) != 0;
}
bool Writes(DWORD a) {
    return (a & (GENERIC_WRITE | kGenericAll | kWriteData | kAppendData)) != 0;
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

DWORD ShareConflict(const SimFile& file, DWORD access, DWORD share) {
    if (DWORD e = OtherProgramConflict(file, access, share)) {
        return e;
    }
    for (const auto& [value, o] : State().handles) {
        if (o.kind == HandleKind::File && o.file.get() == &file &&
            Clashes(access, share, o.access, o.share)) {
            return ERROR_SHARING_VIOLATION;
        }
    }
    return 0;
}

HandleObject* FindHandle(HANDLE h, HandleKind kind) {
    auto& handles = State().handles;
    auto it = handles.find(reinterpret_cast<std::uintptr_t>(h));
    return it != handles.end() && it->second.kind == kind ? &it->second : nullptr;
}

int Machine::OpenFileHandleCount() const {
    return static_cast<int>(
        std::count_if(impl_->handles.begin(), impl_->handles.end(), [](const auto& entry) {
            return entry.second.kind == HandleKind::File ||
                   entry.second.kind == HandleKind::NulDevice;
        }));
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
        // CreateFileW: a call "on a file that is pending deletion ... fails", CREATE_NEW too.
        if (DWORD e = DeletePending(*file)) {
            return FailHandle(e);
        }
        if (dwCreationDisposition == CREATE_NEW) {
            return FailHandle(ERROR_FILE_EXISTS);
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
        // Truncating in the open is SetEndOfFile's refusal too: the stricter reading.
        if (DWORD e = truncates ? MappedRefusal(*file, true) : 0) {
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

namespace {

// Why ReadFile or WriteFile refuses a transfer of `count` bytes on `hFile` (0 when it does not):
// the handle, the parameters, the handle's rights (`permits`), then another program's lock.
DWORD DataTransferRefusal(HANDLE hFile, const void* buffer, DWORD count, const DWORD* done,
                          const OVERLAPPED* overlapped, bool (*permits)(DWORD), HandleObject*& o) {
    o = FindHandle(hFile, HandleKind::File);
    if (!o) {
        return ERROR_INVALID_HANDLE;
    }
    if (overlapped || !done || (!buffer && count > 0)) {
        return ERROR_INVALID_PARAMETER;
    }
    if (!permits(o->access)) {
        return ERROR_ACCESS_DENIED;
    }
    return count > 0 ? LockRefusal(*o->file) : 0;
}

} // namespace

BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
              LPDWORD lpNumberOfBytesRead, LPOVERLAPPED lpOverlapped) {
    auto fault = Enter("ReadFile", HandleTarget(hFile), nNumberOfBytesToRead);
    if (lpNumberOfBytesRead) {
        *lpNumberOfBytesRead = 0;
    }
    if (fault) {
        return Fail(*fault);
    }
    HandleObject* o = nullptr;
    if (const DWORD e = DataTransferRefusal(hFile, lpBuffer, nNumberOfBytesToRead,
                                            lpNumberOfBytesRead, lpOverlapped, Reads, o)) {
        return Fail(e);
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
    HandleObject* o = nullptr;
    if (const DWORD e = DataTransferRefusal(hFile, lpBuffer, nNumberOfBytesToWrite,
                                            lpNumberOfBytesWritten, lpOverlapped, Writes, o)) {
        return Fail(e);
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
    if (DWORD e = MappedRefusal(*o->file, true)) {
        return Fail(e);
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
        // A pending deletion refuses the open behind the query, as it refuses CreateFileW.
        if (DWORD e = DeletePending(*file)) {
            SetError(e);
            return INVALID_FILE_ATTRIBUTES;
        }
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
        if (DWORD e = DeletePending(*file)) {
            return Fail(e);
        }
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
    if (DWORD e = DeletePending(*file)) {
        return Fail(e);
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
    if (DWORD e = DeletePending(*file)) {
        return Fail(e);
    }
    if (!FindDirectory(s, ParentPath(path))->writable) {
        return Fail(ERROR_ACCESS_DENIED);
    }
    // The delete opens the file for DELETE: a handle that does not share delete refuses it
    // (CreateFileW, FILE_SHARE_DELETE); test_DeleteFileA: one that does lets it through.
    const DWORD shareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    if (DWORD e = ShareConflict(*file, kDeleteAccess, shareAll)) {
        return Fail(e);
    }
    if (file->attributes & FILE_ATTRIBUTE_READONLY) {
        return Fail(ERROR_ACCESS_DENIED);
    }
    if (DWORD e = MappedRefusal(*file, false)) {
        return Fail(e);
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
    if (const auto& hold = s.holdOnThisCall) {
        TakeHold(s, FollowLinks(s, from), hold->ticks, hold->kind); // the source is named too
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
    if (DWORD e = DeletePending(*source)) {
        return Fail(e);
    }
    if (DWORD e = ShareConflict(*source, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE)) {
        return Fail(e);
    }
    if (DWORD e = LockRefusal(*source)) { // its bytes are read
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
        if (DWORD e = DeletePending(*target)) {
            return Fail(e);
        }
        // CopyFileW: an existing destination that is hidden or read-only is refused.
        if (!parent->writable ||
            (target->attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN)) != 0) {
            return Fail(ERROR_ACCESS_DENIED);
        }
        if (target == source) {
            return Fail(ERROR_SHARING_VIOLATION);
        }
        if (DWORD e = ShareConflict(*target, GENERIC_WRITE | kDeleteAccess, 0)) {
            return Fail(e);
        }
        if (DWORD e = MappedRefusal(*target, true)) { // overwritten, so truncated first
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
    if (const auto& hold = s.holdOnThisCall) {
        TakeHold(s, from, hold->ticks, hold->kind); // the source is named too
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
    if (DWORD e = DeletePending(*file)) {
        return Fail(e);
    }
    if (!FindDirectory(s, ParentPath(from))->writable || !target->writable) {
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
