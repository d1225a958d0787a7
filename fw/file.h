// The framework's file class: a thin owner of a Win32 file handle that reports errors by throwing
// CFileException, so that a handler can be abandoned and the error shown in one place.
#pragma once

#include "platform/win32.h"

#include <cstdint>
#include <string>

class CFileException {
public:
    enum Cause {
        none,
        genericException,
        fileNotFound,
        badPath,
        tooManyOpenFiles,
        accessDenied,
        invalidFile,
        removeCurrentDir,
        directoryFull,
        badSeek,
        hardIO,
        sharingViolation,
        lockViolation,
        diskFull,
        endOfFile
    };

    CFileException(int cause, LONG osError, std::wstring fileName);

    static int OsErrorToCause(LONG osError);
    // Shows the framework's standard error box for this error.
    int ReportError() const;
    std::wstring Describe() const;

    int m_cause;
    LONG m_lOsError;
    std::wstring m_strFileName;
};

// Times are whole seconds since 1970-01-01 UTC; 0 means "unknown / leave unchanged".
struct CFileStatus {
    std::int64_t m_ctime = 0;
    std::int64_t m_mtime = 0;
    std::int64_t m_atime = 0;
    ULONGLONG m_size = 0;
    BYTE m_attribute = 0;
    std::wstring m_szFullName;
};

class CFile {
public:
    enum OpenFlags : UINT {
        modeRead = 0x0000,
        modeWrite = 0x0001,
        modeReadWrite = 0x0002,
        shareExclusive = 0x0010,
        shareDenyWrite = 0x0020,
        shareDenyRead = 0x0030,
        shareDenyNone = 0x0040,
        modeCreate = 0x1000,
        modeNoTruncate = 0x2000,
        // With modeCreate alone: never writes through a link. An existing name is emptied only
        // when it is a plain file of its own; a link under that name is removed and a new file
        // made in its place.
        modeNoLinks = 0x100000,
    };
    // The one attribute bit the program changes; the others pass through CFileStatus as they are.
    enum Attribute : BYTE { readOnly = 0x01 };

    CFile() = default;
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;
    ~CFile(); // closes a file still open, ignoring errors

    // Opening reports failure by result, never by exception; the other operations throw.
    BOOL Open(LPCWSTR fileName, UINT openFlags);
    UINT Read(void* buffer, UINT count);
    void Write(const void* buffer, UINT count);
    void Close();
    bool IsOpen() const { return m_hFile != INVALID_HANDLE_VALUE; }
    const std::wstring& GetFilePath() const { return m_strFileName; }

    BOOL GetStatus(CFileStatus& status) const;
    static BOOL GetStatus(LPCWSTR fileName, CFileStatus& status);
    static void SetStatus(LPCWSTR fileName, const CFileStatus& status);

private:
    [[noreturn]] void ThrowLastError() const;

    HANDLE m_hFile = INVALID_HANDLE_VALUE;
    std::wstring m_strFileName;
};
