#include "cli/run_log.h"

#include "fw/unlinked_file.h"

#include <cstdint>
#include <cstdio>

namespace {

void AppendUtf8(std::string& out, std::uint32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// UTF-16 as Windows hands it over (wchar_t may be wider elsewhere); a lone surrogate becomes
// U+FFFD, and line breaks become spaces so that the command line stays one line.
std::string Utf8(const std::wstring& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        auto c = static_cast<std::uint32_t>(text[i]);
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() &&
            static_cast<std::uint32_t>(text[i + 1]) >= 0xDC00 &&
            static_cast<std::uint32_t>(text[i + 1]) <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<std::uint32_t>(text[++i]) - 0xDC00);
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        } else if (c == L'\r' || c == L'\n') {
            c = L' ';
        }
        AppendUtf8(out, c);
    }
    return out;
}

std::string LocalTimeIso8601() {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    char text[64] = {};
    std::snprintf(text, sizeof(text), "%04u-%02u-%02uT%02u:%02u:%02u", now.wYear, now.wMonth,
                  now.wDay, now.wHour, now.wMinute, now.wSecond);
    return text;
}

} // namespace

DWORD AppendRunLog(const std::wstring& path, const std::wstring& commandLine,
                   const std::vector<std::string>& lines) {
    std::string text = "Run=" + LocalTimeIso8601() + " " + Utf8(commandLine) + "\r\n";
    for (const std::string& line : lines) {
        text += line + "\r\n";
    }
    const HANDLE file = OpenUnlinkedFileForAppend(path.c_str(), FILE_SHARE_READ | FILE_SHARE_WRITE);
    if (file == INVALID_HANDLE_VALUE) {
        return GetLastError();
    }
    // One write: a run's lines stay together even when another run appends at the same time.
    DWORD written = 0;
    const auto size = static_cast<DWORD>(text.size());
    DWORD error = NO_ERROR;
    if (!WriteFile(file, text.data(), size, &written, nullptr)) {
        error = GetLastError();
    } else if (written != size) {
        error = ERROR_DISK_FULL;
    }
    if (!CloseHandle(file) && error == NO_ERROR) {
        error = GetLastError();
    }
    return error;
}
