#include "engine/temporary_folder.h"

#include "platform/win32.h"

#include <algorithm>
#include <vector>

namespace {

// Text from a function that fills a buffer and, when it is too small, returns the size it needs;
// empty when it fails. A value may grow between two calls, so the second size is taken once more.
template <typename Fill> std::wstring FilledText(Fill fill) {
    std::wstring text(MAX_PATH + 1, L'\0');
    for (int attempt = 0; attempt < 3; ++attempt) {
        const DWORD length = fill(&text[0], static_cast<DWORD>(text.size()));
        if (length == 0) {
            return std::wstring();
        }
        if (length < text.size()) {
            text.resize(length);
            return text;
        }
        text.assign(length, L'\0');
    }
    return std::wstring();
}

// The long form of an existing path; the path as given when it has none to give (it does not
// exist, or a folder on the way cannot be listed).
std::wstring LongForm(const std::wstring& path) {
    const std::wstring longPath = FilledText([&path](LPWSTR buffer, DWORD size) {
        return GetLongPathNameW(path.c_str(), buffer, size);
    });
    return longPath.empty() ? path : longPath;
}

std::vector<std::wstring> Components(const std::wstring& path) {
    std::vector<std::wstring> components;
    std::wstring current;
    for (const wchar_t c : path + L'\\') {
        if (c == L'\\' || c == L'/') {
            if (!current.empty()) {
                components.push_back(current);
            }
            current.clear();
        } else {
            current += c;
        }
    }
    return components;
}

// Names compare without case. Only ASCII letters are folded: the names that differ in case in
// practice (the drive letter, Users, AppData, Temp) are ASCII, and folding no more can never
// make two different folders match.
wchar_t FoldAscii(wchar_t c) {
    return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c;
}

bool SameName(const std::wstring& a, const std::wstring& b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(),
                      [](wchar_t x, wchar_t y) { return FoldAscii(x) == FoldAscii(y); });
}

// Whether `inner` is `outer` or lies inside it, component by component.
bool IsWithin(const std::vector<std::wstring>& inner, const std::vector<std::wstring>& outer) {
    return inner.size() >= outer.size() &&
           std::equal(outer.begin(), outer.end(), inner.begin(), SameName);
}

bool SameFolder(const std::vector<std::wstring>& a, const std::wstring& b) {
    if (b.empty()) {
        return false;
    }
    const std::vector<std::wstring> other = Components(LongForm(b));
    return a.size() == other.size() && IsWithin(a, other);
}

// Explorer's folder for a zip it extracts a program from: "Temp1_Quillmarsh.zip".
bool IsZipExtractionFolder(const std::wstring& name) {
    const std::wstring prefix = L"TEMP";
    const std::wstring suffix = L".ZIP";
    if (name.size() < prefix.size() + 2 + suffix.size() ||
        !SameName(name.substr(0, prefix.size()), prefix) ||
        !SameName(name.substr(name.size() - suffix.size()), suffix)) {
        return false;
    }
    std::size_t pos = prefix.size();
    while (pos < name.size() && name[pos] >= L'0' && name[pos] <= L'9') {
        ++pos;
    }
    return pos > prefix.size() && name[pos] == L'_'; // at least one digit, then the underscore
}

// The user's temporary folder, unless it is one that holds much more than temporary files.
std::vector<std::wstring> OwnTemporaryFolder() {
    const std::wstring temporary =
        FilledText([](LPWSTR buffer, DWORD size) { return GetTempPathW(size, buffer); });
    if (temporary.empty()) {
        return {};
    }
    const std::vector<std::wstring> components = Components(LongForm(temporary));
    // A root is one component, or two for a share (\\server\share).
    const std::size_t rootSize = temporary.compare(0, 2, L"\\\\") == 0 ? 2 : 1;
    const std::wstring windows =
        FilledText([](LPWSTR buffer, DWORD size) { return GetWindowsDirectoryW(buffer, size); });
    const std::wstring profile = FilledText([](LPWSTR buffer, DWORD size) {
        return GetEnvironmentVariableW(L"USERPROFILE", buffer, size);
    });
    if (components.size() <= rootSize || SameFolder(components, windows) ||
        SameFolder(components, profile)) {
        return {};
    }
    return components;
}

} // namespace

bool IsInTemporaryFolder(const std::wstring& folder) {
    const std::vector<std::wstring> components = Components(LongForm(folder));
    if (std::any_of(components.begin(), components.end(), IsZipExtractionFolder)) {
        return true;
    }
    const std::vector<std::wstring> temporary = OwnTemporaryFolder();
    return !temporary.empty() && IsWithin(components, temporary);
}
