#include "fw/file.h"

#include "fw/brief_hold.h"
#include "fw/unlinked_file.h"

namespace {

constexpr ULONGLONG kTicksPerSecond = 10000000ULL;
constexpr ULONGLONG kEpochDifferenceSeconds = 11644473600ULL; // 1601-01-01 to 1970-01-01

std::int64_t SecondsFromFileTime(const FILETIME& time) {
    const ULONGLONG ticks =
        (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    if (ticks == 0) {
        return 0;
    }
    return static_cast<std::int64_t>(ticks / kTicksPerSecond) -
           static_cast<std::int64_t>(kEpochDifferenceSeconds);
}

FILETIME FileTimeFromSeconds(std::int64_t seconds) {
    const ULONGLONG ticks =
        static_cast<ULONGLONG>(seconds + static_cast<std::int64_t>(kEpochDifferenceSeconds)) *
        kTicksPerSecond;
    FILETIME time{};
    time.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFFULL);
    time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return time;
}

DWORD ShareModeFrom(UINT openFlags) {
    switch (openFlags & 0x70u) {
    case CFile::shareDenyWrite:
        return FILE_SHARE_READ;
    case CFile::shareDenyRead:
        return FILE_SHARE_WRITE;
    case CFile::shareDenyNone:
        return FILE_SHARE_READ | FILE_SHARE_WRITE;
    default: // shareExclusive and the compatibility mode both mean no sharing
        return 0;
    }
}

DWORD AccessFrom(UINT openFlags) {
    switch (openFlags & 0x3u) {
    case CFile::modeWrite:
        return GENERIC_WRITE;
    case CFile::modeReadWrite:
        return GENERIC_READ | GENERIC_WRITE;
    default:
        return GENERIC_READ;
    }
}

DWORD DispositionFrom(UINT openFlags) {
    if ((openFlags & CFile::modeCreate) == 0) {
        return OPEN_EXISTING;
    }
    return (openFlags & CFile::modeNoTruncate) != 0 ? OPEN_ALWAYS : CREATE_ALWAYS;
}

[[noreturn]] void ThrowOsError(DWORD error, const std::wstring& fileName) {
    const LONG osError = static_cast<LONG>(error);
    throw CFileException(CFileException::OsErrorToCause(osError), osError, fileName);
}

// Runs a read or write, waiting out another program's byte-range lock as its open handle; its
// error becomes the file error.
template <typename Transfer>
void TransferWaitingOutLocks(const std::wstring& fileName, Transfer transfer) {
    const DWORD error = RetryWhileHeld(
        fileName.c_str(), [&] { return StepResult(transfer()); }, kDeniedForGood);
    if (error != NO_ERROR) {
        ThrowOsError(error, fileName);
    }
}

} // namespace

CFile::~CFile() {
    if (IsOpen()) {
        CloseHandle(m_hFile);
    }
}

BOOL CFile::Open(LPCWSTR fileName, UINT openFlags) {
    if (IsOpen() || fileName == nullptr) {
        return FALSE;
    }
    const bool noLinks = (openFlags & modeNoLinks) != 0;
    if (noLinks && DispositionFrom(openFlags) != CREATE_ALWAYS) {
        return FALSE;
    }
    // CREATE_ALWAYS refuses a hidden or system file unless asked for the same attributes.
    const DWORD overwriteRefused = DispositionFrom(openFlags) == CREATE_ALWAYS
                                       ? FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM
                                       : 0;
    HANDLE handle = INVALID_HANDLE_VALUE;
    RetryWhileHeld(
        fileName,
        [&] {
            handle =
                noLinks
                    ? CreateUnlinkedFile(fileName, AccessFrom(openFlags), ShareModeFrom(openFlags))
                    : CreateFileW(fileName, AccessFrom(openFlags), ShareModeFrom(openFlags),
                                  nullptr, DispositionFrom(openFlags), FILE_ATTRIBUTE_NORMAL,
                                  nullptr);
            return StepResult(handle != INVALID_HANDLE_VALUE);
        },
        overwriteRefused);
    if (handle == INVALID_HANDLE_VALUE) {
        return FALSE;
    }
    m_hFile = handle;
    m_strFileName = fileName;
    return TRUE;
}

void CFile::ThrowLastError() const {
    const DWORD error = GetLastError();
    ThrowOsError(error, m_strFileName);
}

UINT CFile::Read(void* buffer, UINT count) {
    if (!IsOpen()) {
        throw CFileException(CFileException::invalidFile, ERROR_INVALID_HANDLE, m_strFileName);
    }
    if (count == 0) {
        return 0;
    }
    DWORD read = 0;
    TransferWaitingOutLocks(m_strFileName,
                            [&] { return ReadFile(m_hFile, buffer, count, &read, nullptr); });
    return read;
}

void CFile::Write(const void* buffer, UINT count) {
    if (!IsOpen()) {
        throw CFileException(CFileException::invalidFile, ERROR_INVALID_HANDLE, m_strFileName);
    }
    if (count == 0) {
        return;
    }
    DWORD written = 0;
    TransferWaitingOutLocks(m_strFileName,
                            [&] { return WriteFile(m_hFile, buffer, count, &written, nullptr); });
    if (written != count) {
        throw CFileException(CFileException::diskFull, ERROR_DISK_FULL, m_strFileName);
    }
}

void CFile::Close() {
    if (!IsOpen()) {
        return;
    }
    const HANDLE handle = m_hFile;
    m_hFile = INVALID_HANDLE_VALUE;
    if (!CloseHandle(handle)) {
        ThrowLastError();
    }
}

namespace {

// Both Win32 records that describe a file carry these fields under the same names.
template <typename FileInformation>
void FillStatus(const FileInformation& info, CFileStatus& status) {
    status.m_ctime = SecondsFromFileTime(info.ftCreationTime);
    status.m_atime = SecondsFromFileTime(info.ftLastAccessTime);
    status.m_mtime = SecondsFromFileTime(info.ftLastWriteTime);
    status.m_size = (static_cast<ULONGLONG>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    status.m_attribute = static_cast<BYTE>(info.dwFileAttributes & 0xFFu);
}

} // namespace

BOOL CFile::GetStatus(CFileStatus& status) const {
    status = CFileStatus{};
    status.m_szFullName = m_strFileName;
    BY_HANDLE_FILE_INFORMATION info{};
    if (!IsOpen() || !GetFileInformationByHandle(m_hFile, &info)) {
        return FALSE;
    }
    FillStatus(info, status);
    return TRUE;
}

BOOL CFile::GetStatus(LPCWSTR fileName, CFileStatus& status) {
    status = CFileStatus{};
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (fileName == nullptr || !GetFileAttributesExW(fileName, GetFileExInfoStandard, &data)) {
        return FALSE;
    }
    status.m_szFullName = fileName;
    FillStatus(data, status);
    return TRUE;
}

namespace {

void StoreTimes(LPCWSTR fileName, const CFileStatus& status) {
    if (status.m_ctime == 0 && status.m_atime == 0 && status.m_mtime == 0) {
        return;
    }
    HANDLE handle = INVALID_HANDLE_VALUE;
    const DWORD opened = RetryWhileHeld(fileName, [&] {
        handle = CreateFileW(fileName, FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        return StepResult(handle != INVALID_HANDLE_VALUE);
    });
    if (opened != NO_ERROR) {
        ThrowOsError(opened, fileName);
    }
    const FILETIME created = FileTimeFromSeconds(status.m_ctime);
    const FILETIME accessed = FileTimeFromSeconds(status.m_atime);
    const FILETIME modified = FileTimeFromSeconds(status.m_mtime);
    const BOOL stored = SetFileTime(handle, status.m_ctime != 0 ? &created : nullptr,
                                    status.m_atime != 0 ? &accessed : nullptr,
                                    status.m_mtime != 0 ? &modified : nullptr);
    const DWORD error = GetLastError();
    CloseHandle(handle);
    if (!stored) {
        ThrowOsError(error, fileName);
    }
}

void StoreAttributes(LPCWSTR fileName, DWORD attributes) {
    const DWORD error = RetryWhileHeld(
        fileName, [=] { return StepResult(SetFileAttributesW(fileName, attributes)); });
    if (error != NO_ERROR) {
        ThrowOsError(error, fileName);
    }
}

} // namespace

void CFile::SetStatus(LPCWSTR fileName, const CFileStatus& status) {
    const DWORD current = GetFileAttributesW(fileName);
    if (current == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        ThrowOsError(error, fileName);
    }
    const DWORD wanted = status.m_attribute;
    // The time stamps can only be stored while the file is writable: lift a read-only bit
    // before storing them, and set a new one only afterwards.
    const bool changes = wanted != (current & 0xFFu);
    if (changes && (current & FILE_ATTRIBUTE_READONLY) != 0) {
        StoreAttributes(fileName, wanted);
    }
    StoreTimes(fileName, status);
    if (changes && (current & FILE_ATTRIBUTE_READONLY) == 0) {
        StoreAttributes(fileName, wanted);
    }
}
