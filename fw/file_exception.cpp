#include "fw/file.h"

#include <utility>

CFileException::CFileException(int cause, LONG osError, std::wstring fileName)
    : m_cause(cause), m_lOsError(osError), m_strFileName(std::move(fileName)) {}

int CFileException::OsErrorToCause(LONG osError) {
    switch (osError) {
    case NO_ERROR:
        return none;
    case ERROR_FILE_NOT_FOUND:
        return fileNotFound;
    case ERROR_PATH_NOT_FOUND:
        return badPath;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
        return accessDenied;
    case ERROR_INVALID_HANDLE:
        return invalidFile;
    case ERROR_SHARING_VIOLATION:
        return sharingViolation;
    case ERROR_LOCK_VIOLATION:
        return lockViolation;
    case ERROR_HANDLE_EOF:
        return endOfFile;
    case ERROR_DISK_FULL:
        return diskFull;
    default:
        return genericException;
    }
}

std::wstring CFileException::Describe() const {
    const std::wstring name = m_strFileName.empty() ? L"(不明)" : m_strFileName;
    switch (m_cause) {
    case fileNotFound:
        return L"ファイル " + name + L" が見つかりません。";
    case badPath:
        return L"パス " + name + L" が正しくありません。";
    case accessDenied:
        return L"ファイル " + name + L" へのアクセスが拒否されました。";
    case sharingViolation:
    case lockViolation:
        return L"ファイル " + name + L" は他のプロセスが使用中です。";
    case diskFull:
        return L"ディスクがいっぱいのため、ファイル " + name + L" に書き込めませんでした。";
    case endOfFile:
        return L"ファイル " + name + L" の終わりを超えて読み込もうとしました。";
    default:
        return L"ファイル " + name + L" へのアクセス中に予期しないエラーが発生しました。";
    }
}
