// The disk's cache: written data and changed names reach the disk only when flushed, and what a
// power cut keeps.
#include "sim_internal.h"

#include <algorithm>

namespace sim {

// Written data reaches the disk when the cache is flushed; until then a power cut loses it
// (Microsoft, "File Caching"; FlushFileBuffers).
void BeginWrite(SimFile& file) {
    if (!file.onDisk) {
        file.onDisk = file.content;
    }
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

void KeepWhatTheDiskHolds(Machine::Impl& left, bool powerCut) {
    if (powerCut) {
        // Names are metadata, cached like data ("File Caching"): what never reached the disk is
        // as it was.
        for (auto it = left.unflushedNames.rbegin(); it != left.unflushedNames.rend(); ++it) {
            if (it->second) {
                left.files[it->first] = it->second;
            } else {
                left.files.erase(it->first);
            }
        }
    }
    left.unflushedNames.clear();
    for (const auto& [name, file] : left.files) {
        if (powerCut) {
            // The cache and the deletions waiting for a close die with the machine ("File
            // Caching": data reaches the disk when the cache is flushed).
            file->content = file->onDisk.value_or(file->content);
            file->deleteOnClose.clear();
        }
        file->onDisk.reset(); // otherwise the system writes the cache out in its own time
    }
}

} // namespace sim
