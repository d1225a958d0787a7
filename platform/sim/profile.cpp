// GetPrivateProfileStringW / WritePrivateProfileStringW over the simulated files, with Windows'
// parsing rules: names compare case-insensitively, blanks around names and values are trimmed,
// one pair of matching quotes is removed from a value on read, the first section and the first
// key of a name win, and lines starting with ';' are comments.
#include "sim_internal.h"

#include <algorithm>

namespace sim {

namespace {

// New files are written as 8-bit text (Latin-1 stands in for the ANSI code page, characters
// outside it become '?'); files that start with a UTF-16LE or UTF-8 byte order mark keep it.
enum class Encoding { Ansi, Utf8, Utf16 };

std::wstring DecodeUtf8(const std::string& bytes, std::size_t start) {
    std::wstring out;
    for (std::size_t i = start; i < bytes.size();) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        const int extra = b < 0x80 ? 0 : (b >> 5) == 0x6 ? 1 : (b >> 4) == 0xE ? 2 : 3;
        std::uint32_t c = extra == 0 ? b : b & (0x3Fu >> extra);
        for (int k = 1; k <= extra && i + static_cast<std::size_t>(k) < bytes.size(); ++k) {
            c = (c << 6) | (static_cast<unsigned char>(bytes[i + k]) & 0x3Fu);
        }
        out += static_cast<wchar_t>(c);
        i += static_cast<std::size_t>(extra) + 1;
    }
    return out;
}

std::wstring Decode(const std::string& bytes, Encoding& encoding) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    std::wstring out;
    if (bytes.size() >= 2 && byte(0) == 0xFF && byte(1) == 0xFE) {
        encoding = Encoding::Utf16;
        for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
            out += static_cast<wchar_t>(byte(i) | (byte(i + 1) << 8));
        }
        return out;
    }
    if (bytes.size() >= 3 && byte(0) == 0xEF && byte(1) == 0xBB && byte(2) == 0xBF) {
        encoding = Encoding::Utf8;
        return DecodeUtf8(bytes, 3);
    }
    encoding = Encoding::Ansi;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        out += static_cast<wchar_t>(byte(i));
    }
    return out;
}

std::string Encode(const std::wstring& text, Encoding encoding) {
    std::string out;
    if (encoding == Encoding::Utf16) {
        out = "\xFF\xFE";
        for (BYTE b : Utf16Bytes(text, false)) {
            out += static_cast<char>(b);
        }
        return out;
    }
    if (encoding == Encoding::Ansi) {
        for (wchar_t c : text) {
            out += static_cast<char>(static_cast<std::uint32_t>(c) <= 0xFFu ? c : L'?');
        }
        return out;
    }
    out = "\xEF\xBB\xBF";
    for (wchar_t wc : text) {
        const auto c = static_cast<std::uint32_t>(wc);
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
    return out;
}

std::vector<std::wstring> SplitLines(const std::wstring& text) {
    std::vector<std::wstring> lines;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t next = text.find(L'\n', pos);
        std::wstring line = text.substr(pos, next == std::wstring::npos ? next : next - pos);
        if (!line.empty() && line.back() == L'\r') {
            line.pop_back();
        }
        lines.push_back(line);
        pos = next == std::wstring::npos ? text.size() : next + 1;
    }
    return lines;
}

struct Entry {
    enum Kind { Section, Key, Other } kind = Other;
    std::wstring name;
    std::wstring value;
};

Entry Parse(const std::wstring& line) {
    const std::wstring t = Trim(line);
    if (t.empty() || t[0] == L';') {
        return {};
    }
    if (t[0] == L'[') {
        const std::size_t close = t.find(L']');
        return {
            Entry::Section, Trim(t.substr(1, close == std::wstring::npos ? close : close - 1)), {}};
    }
    const std::size_t eq = t.find(L'=');
    if (eq == std::wstring::npos) {
        return {Entry::Key, t, {}};
    }
    return {Entry::Key, Trim(t.substr(0, eq)), Trim(t.substr(eq + 1))};
}

struct Range {
    std::size_t header; // the [Section] line
    std::size_t end;    // the next section's line, or the end of the file
};

std::optional<Range> FindSection(const std::vector<std::wstring>& lines, const std::wstring& name) {
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const Entry e = Parse(lines[i]);
        if (e.kind == Entry::Section && IEquals(e.name, name)) {
            std::size_t end = i + 1;
            while (end < lines.size() && Parse(lines[end]).kind != Entry::Section) {
                ++end;
            }
            return Range{i, end};
        }
    }
    return std::nullopt;
}

std::optional<std::size_t> FindKey(const std::vector<std::wstring>& lines, const Range& r,
                                   const std::wstring& key) {
    for (std::size_t i = r.header + 1; i < r.end; ++i) {
        const Entry e = Parse(lines[i]);
        if (e.kind == Entry::Key && IEquals(e.name, key)) {
            return i;
        }
    }
    return std::nullopt;
}

std::wstring Unquote(const std::wstring& v) {
    if (v.size() >= 2 && (v.front() == L'"' || v.front() == L'\'') && v.back() == v.front()) {
        return v.substr(1, v.size() - 2);
    }
    return v;
}

// A value that does not fit is cut to nSize - 1 characters, and that count is returned.
DWORD CopyValue(const std::wstring& text, LPWSTR buffer, DWORD nSize) {
    const std::size_t count = std::min<std::size_t>(text.size(), nSize - 1);
    std::copy_n(text.begin(), count, buffer);
    buffer[count] = L'\0';
    return static_cast<DWORD>(count);
}

// Names one after another, each terminated, plus a final terminator. A list that does not fit is
// cut to nSize - 2 characters and still ends in two terminators; nSize - 2 is returned.
DWORD CopyList(const std::vector<std::wstring>& names, LPWSTR buffer, DWORD nSize) {
    std::wstring all;
    for (const auto& name : names) {
        all += name;
        all += L'\0';
    }
    if (all.size() + 1 <= nSize) {
        std::copy(all.begin(), all.end(), buffer);
        buffer[all.size()] = L'\0';
        if (all.empty() && nSize > 1) {
            buffer[1] = L'\0';
        }
        return static_cast<DWORD>(all.size());
    }
    if (nSize < 2) {
        buffer[0] = L'\0';
        return 0;
    }
    std::copy_n(all.begin(), nSize - 2, buffer);
    buffer[nSize - 2] = L'\0';
    buffer[nSize - 1] = L'\0';
    return nSize - 2;
}

// A bare file name lives in the Windows directory; anything with a path resolves as usual.
std::wstring ProfilePath(LPCWSTR fileName) {
    std::wstring name = fileName ? Str(fileName) : std::wstring(L"win.ini");
    if (name.empty()) {
        return {};
    }
    const bool bare =
        name.find_first_of(L"\\/") == std::wstring::npos && !(name.size() >= 2 && name[1] == L':');
    return bare ? NormalizePath(L"C:\\Windows\\" + name, State().currentDirectory)
                : Resolve(fileName);
}

// How the profile functions open the file: test_profile_existing (Wine's conformance tests,
// dlls/kernel32/tests/profile.c, run on Windows) shows a write succeeds beside a handle that
// shares read and write and fails beside one that shares only one of them, and a read fails
// only beside one that does not share read.
constexpr DWORD kProfileShare = FILE_SHARE_READ | FILE_SHARE_WRITE;

} // namespace

} // namespace sim

using namespace sim;

DWORD GetPrivateProfileStringW(LPCWSTR lpAppName, LPCWSTR lpKeyName, LPCWSTR lpDefault,
                               LPWSTR lpReturnedString, DWORD nSize, LPCWSTR lpFileName) {
    const std::wstring path = ProfilePath(lpFileName);
    auto fault = Enter("GetPrivateProfileStringW", path, nSize);
    if (!lpReturnedString || nSize == 0) {
        if (fault) {
            SetError(*fault);
        }
        return 0;
    }
    std::wstring fallback = Str(lpDefault);
    while (!fallback.empty() && fallback.back() == L' ') {
        fallback.pop_back();
    }
    const auto useDefault = [&](DWORD error) {
        SetError(error);
        if (!lpAppName || !lpKeyName) {
            return CopyList({}, lpReturnedString, nSize);
        }
        return CopyValue(fallback, lpReturnedString, nSize);
    };
    if (fault) {
        return useDefault(*fault);
    }
    auto file = path.empty() ? nullptr : FindFile(State(), FollowLinks(State(), path));
    if (!file) {
        return useDefault(path.empty() ? ERROR_PATH_NOT_FOUND : NotFoundError(path));
    }
    if (!file->deleteOnClose.empty()) {
        return useDefault(ERROR_ACCESS_DENIED); // it cannot be opened any more
    }
    if (DWORD e = ShareConflict(*file, GENERIC_READ, kProfileShare)) {
        return useDefault(e);
    }
    Encoding encoding = Encoding::Ansi;
    const auto lines = SplitLines(Decode(file->content, encoding));
    if (!lpAppName) {
        std::vector<std::wstring> sections;
        for (const auto& line : lines) {
            const Entry e = Parse(line);
            if (e.kind == Entry::Section &&
                std::none_of(sections.begin(), sections.end(),
                             [&](const std::wstring& s) { return IEquals(s, e.name); })) {
                sections.push_back(e.name);
            }
        }
        SetError(ERROR_SUCCESS);
        return CopyList(sections, lpReturnedString, nSize);
    }
    auto section = FindSection(lines, Trim(lpAppName));
    if (!section) {
        return useDefault(ERROR_FILE_NOT_FOUND);
    }
    if (!lpKeyName) {
        std::vector<std::wstring> keys;
        for (std::size_t i = section->header + 1; i < section->end; ++i) {
            const Entry e = Parse(lines[i]);
            if (e.kind == Entry::Key) {
                keys.push_back(e.name);
            }
        }
        SetError(ERROR_SUCCESS);
        return CopyList(keys, lpReturnedString, nSize);
    }
    auto key = FindKey(lines, *section, Trim(lpKeyName));
    if (!key) {
        return useDefault(ERROR_FILE_NOT_FOUND);
    }
    SetError(ERROR_SUCCESS);
    return CopyValue(Unquote(Parse(lines[*key]).value), lpReturnedString, nSize);
}

BOOL WritePrivateProfileStringW(LPCWSTR lpAppName, LPCWSTR lpKeyName, LPCWSTR lpString,
                                LPCWSTR lpFileName) {
    const std::wstring name = ProfilePath(lpFileName);
    const auto fail = [](DWORD error) {
        SetError(error);
        return FALSE;
    };
    if (auto fault = Enter("WritePrivateProfileStringW", name)) {
        return fail(*fault);
    }
    const std::wstring path = FollowLinks(State(), name);
    if (!lpAppName) {
        // All three null only flushes the (nonexistent) cache, which also reports FALSE.
        if (lpKeyName || lpString) {
            SetError(ERROR_INVALID_PARAMETER);
        }
        return FALSE;
    }
    auto& s = State();
    if (path.empty()) {
        return fail(ERROR_PATH_NOT_FOUND);
    }
    if (FindDirectory(s, path)) {
        return fail(ERROR_ACCESS_DENIED);
    }
    const SimDirectory* parent = FindDirectory(s, ParentPath(path));
    if (!parent) {
        return fail(ERROR_PATH_NOT_FOUND);
    }
    auto file = FindFile(s, path);
    const bool removing = !lpKeyName || !lpString;
    if (!file && removing) {
        return TRUE;
    }
    if (file) {
        if (DWORD e = ShareConflict(*file, GENERIC_READ | GENERIC_WRITE, kProfileShare)) {
            return fail(e);
        }
        if ((file->attributes & FILE_ATTRIBUTE_READONLY) || !parent->writable ||
            !file->deleteOnClose.empty()) {
            return fail(ERROR_ACCESS_DENIED);
        }
    } else if (!parent->writable) {
        return fail(ERROR_ACCESS_DENIED);
    }

    Encoding encoding = Encoding::Ansi;
    auto lines = file ? SplitLines(Decode(file->content, encoding)) : std::vector<std::wstring>();
    const std::wstring sectionName = Trim(lpAppName);
    auto section = FindSection(lines, sectionName);
    if (!lpKeyName) {
        if (!section) {
            return TRUE;
        }
        lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(section->header),
                    lines.begin() + static_cast<std::ptrdiff_t>(section->end));
    } else {
        const std::wstring keyName = Trim(lpKeyName);
        auto key = section ? FindKey(lines, *section, keyName) : std::nullopt;
        if (!lpString) {
            if (!key) {
                return TRUE;
            }
            lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(*key));
        } else if (key) {
            // The stored spelling of the name stays; only the value changes.
            lines[*key] = Parse(lines[*key]).name + L"=" + lpString;
        } else if (section) {
            std::size_t at = section->end;
            while (at > section->header + 1 && Trim(lines[at - 1]).empty()) {
                --at;
            }
            lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at),
                         keyName + L"=" + lpString);
        } else {
            lines.push_back(L"[" + sectionName + L"]");
            lines.push_back(keyName + L"=" + lpString);
        }
    }

    std::wstring text;
    for (const auto& line : lines) {
        text += line;
        text += L"\r\n";
    }
    if (!file) {
        file = AddFile(s, path, FILE_ATTRIBUTE_ARCHIVE);
    }
    BeginWrite(*file);
    file->content = Encode(text, encoding);
    file->times.lastWrite = s.clock;
    file->attributes |= FILE_ATTRIBUTE_ARCHIVE;
    return TRUE;
}
