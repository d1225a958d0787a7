// Case folding, UTF-16 conversion and path normalisation for the simulated machine.
#include "sim_internal.h"

#include <cwctype>

namespace sim {

std::wstring Upper(std::wstring_view s) {
    std::wstring r(s);
    for (auto& c : r) {
        c = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c)));
    }
    return r;
}

bool IEquals(std::wstring_view a, std::wstring_view b) {
    return a.size() == b.size() && Upper(a) == Upper(b);
}

std::wstring Trim(std::wstring_view s) {
    const auto blank = [](wchar_t c) { return c == L' ' || c == L'\t'; };
    std::size_t b = 0;
    std::size_t e = s.size();
    while (b < e && blank(s[b])) {
        ++b;
    }
    while (e > b && blank(s[e - 1])) {
        --e;
    }
    return std::wstring(s.substr(b, e - b));
}

std::wstring Str(LPCWSTR s) {
    return s ? std::wstring(s) : std::wstring();
}

std::vector<char16_t> ToUtf16(std::wstring_view s) {
    std::vector<char16_t> out;
    for (wchar_t wc : s) {
        auto c = static_cast<std::uint32_t>(wc);
        if (c > 0xFFFFu && c <= 0x10FFFFu) {
            c -= 0x10000u;
            out.push_back(static_cast<char16_t>(0xD800u + (c >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00u + (c & 0x3FFu)));
        } else {
            out.push_back(static_cast<char16_t>(c > 0xFFFFu ? 0xFFFDu : c));
        }
    }
    return out;
}

std::vector<BYTE> Utf16Bytes(std::wstring_view s, bool terminator) {
    std::vector<BYTE> out;
    auto units = ToUtf16(s);
    if (terminator) {
        units.push_back(0);
    }
    for (char16_t u : units) {
        out.push_back(static_cast<BYTE>(u & 0xFFu));
        out.push_back(static_cast<BYTE>(u >> 8));
    }
    return out;
}

std::wstring NormalizePath(std::wstring_view path, const std::wstring& currentDirectory) {
    std::wstring p(path);
    for (auto& c : p) {
        if (c == L'/') {
            c = L'\\';
        }
    }
    if (p.empty()) {
        return {};
    }
    if (p.rfind(L"\\\\?\\", 0) == 0) {
        p.erase(0, 4);
    }
    std::wstring cwd = currentDirectory.empty() ? std::wstring(L"C:\\") : currentDirectory;
    wchar_t drive = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(cwd[0])));
    std::wstring rest;
    if (p.size() >= 2 && p[1] == L':' && std::iswalpha(static_cast<wint_t>(p[0]))) {
        wchar_t given = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(p[0])));
        rest = p.substr(2);
        if (rest.empty() || rest[0] != L'\\') {
            // "C:name" is relative to the current directory of that drive.
            rest = (given == drive ? cwd.substr(2) + L"\\" : std::wstring(L"\\")) + rest;
        }
        drive = given;
    } else if (p[0] == L'\\') {
        rest = p;
    } else {
        rest = cwd.substr(2) + L"\\" + p;
    }
    std::vector<std::wstring> parts;
    std::size_t pos = 0;
    while (pos <= rest.size()) {
        std::size_t next = rest.find(L'\\', pos);
        if (next == std::wstring::npos) {
            next = rest.size();
        }
        std::wstring part = rest.substr(pos, next - pos);
        if (part == L"..") {
            if (!parts.empty()) {
                parts.pop_back();
            }
        } else if (!part.empty() && part != L".") {
            parts.push_back(part);
        }
        pos = next + 1;
    }
    std::wstring out{drive, L':'};
    for (const auto& part : parts) {
        out += L'\\';
        out += part;
    }
    if (parts.empty()) {
        out += L'\\';
    }
    return out;
}

std::wstring ParentPath(const std::wstring& normalized) {
    if (normalized.size() <= 3) {
        return {};
    }
    std::size_t pos = normalized.rfind(L'\\');
    return pos == 2 ? normalized.substr(0, 3) : normalized.substr(0, pos);
}

std::wstring LastComponent(const std::wstring& normalized) {
    std::size_t pos = normalized.rfind(L'\\');
    return pos == std::wstring::npos ? normalized : normalized.substr(pos + 1);
}

} // namespace sim
