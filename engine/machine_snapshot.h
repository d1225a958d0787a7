// The PC's first settings as the console program found them, kept in the registry so that they
// belong to the PC and not to a copy of the program: HKLM\SOFTWARE\Quillmarsh, 64-bit view.
// Six REG_DWORD values named after the settings, and a mark written last that makes the snapshot
// whole. A key without the mark counts as absent and is written again; once whole, it is never
// changed.
#pragma once

#include "engine/settings_engine.h"

namespace regkey {
inline constexpr const wchar_t* kSnapshot = L"SOFTWARE\\Quillmarsh";
} // namespace regkey

// The value that marks a whole snapshot: REG_DWORD 1.
inline constexpr const wchar_t* kSnapshotMark = L"Complete";

enum class SnapshotState {
    Absent,  // no key, or a key without the mark
    Whole,   // the mark and the six values
    Damaged, // the mark, but not the six values: it may not be changed and cannot be used
};

// Reads the snapshot; `values` is filled only when it is whole.
SnapshotState ReadMachineSnapshot(SettingValues& values);

// Saves `values` as the snapshot unless one is there: NO_ERROR when a whole snapshot is there
// afterwards (then `values` holds it), else what refused it.
DWORD SaveMachineSnapshot(SettingValues& values);
