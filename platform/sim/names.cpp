// Names, directories and links: where a path leads, what a missing one reports, files made and
// the test-facing helpers that put and look at files.
#include "sim_internal.h"

#include <algorithm>

namespace sim {

namespace {

// Attributes SetFileAttributesW and CreateFileW can store (temporary, offline, not indexed too).
constexpr DWORD kSettableAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                      FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE | 0x0100u |
                                      0x1000u | 0x2000u;

} // namespace

DWORD StoredAttributes(DWORD attributes) {
    return attributes & kSettableAttributes;
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

void CompletePendingDelete(Machine::Impl& s, const std::shared_ptr<SimFile>& file) {
    if (file->deleteOnClose.empty()) {
        return;
    }
    for (const auto& [value, o] : s.handles) {
        if (o.file == file) {
            return;
        }
    }
    if (HeldOpenByOtherProgram(s, *file)) {
        return;
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

void Machine::SetClock(ULONGLONG fileTimeTicks) {
    impl_->clock = fileTimeTicks;
    OtherProgramsCatchUp(*impl_);
}

ULONGLONG Machine::Clock() const {
    return impl_->clock;
}

} // namespace sim
