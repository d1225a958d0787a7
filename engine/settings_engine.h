// The settings engine: which Windows generation runs, what the registry holds for the six
// settings, what the first run found, and how a selection is written back.
#pragma once

#include "engine/pair_outcome.h"
#include "engine/run_hidden.h"
#include "engine/selection.h"
#include "engine/setting_id.h"
#include "platform/win32.h"

#include <array>
#include <bitset>
#include <cstdint>
#include <string>

class CFile;

using SettingValues = std::array<std::int32_t, kSettingCount>;
// The settings a selection could not put in place, by SettingId. The SysMain service follows the
// SuperFetch pair, so a failure there counts as SuperFetch.
using FailedSettings = std::bitset<kSettingCount>;
// How each pair was put in place, by SettingId; the SysMain service counts as SuperFetch.
using PairOutcomes = std::array<PairOutcome, kSettingCount>;

// Which pairs to put in place, and how.
struct ApplyRequest {
    // By SettingId; the SysMain service goes with SuperFetch. Pairs this generation does not
    // have are left alone whatever is asked.
    std::bitset<kSettingCount> pairs;
    // Items that already read as what would be written are not written again, and TRIM's tool
    // is not started for a TRIM already as asked.
    bool onlyWhatDiffers = false;
    // The layout file's temporary copy goes beside it, not into the current directory.
    bool copyBesideLayoutFile = false;
    // A file error of the layout-file step fails Prefetch and the run goes on; otherwise it
    // escapes as CFileException and skips the remaining steps.
    bool fileErrorFailsPrefetch = false;
    // How long TRIM's tool may run before it is ended, in ms, and how it is started.
    DWORD toolTimeout = INFINITE;
    ToolStart toolStart = ToolStart::Shell;
};

// Registry locations under HKEY_LOCAL_MACHINE.
namespace regkey {
inline constexpr const wchar_t* kOptimalLayout =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\OptimalLayout";
inline constexpr const wchar_t* kWSearch = L"SYSTEM\\CurrentControlSet\\Services\\WSearch";
inline constexpr const wchar_t* kCisvc = L"SYSTEM\\CurrentControlSet\\Services\\cisvc";
inline constexpr const wchar_t* kSysMain = L"SYSTEM\\CurrentControlSet\\Services\\SysMain";
inline constexpr const wchar_t* kPrefetchParameters =
    L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Memory "
    L"Management\\PrefetchParameters";
inline constexpr const wchar_t* kFileSystem = L"SYSTEM\\CurrentControlSet\\Control\\FileSystem";
} // namespace regkey

class SettingsEngine {
public:
    SettingValues m_nCurrent{};
    SettingValues m_nInitial{};
    std::int32_t m_bWin7 = 0;
    std::int32_t m_bVista = 0;

    // False when the version could not be read (the generation then counts as the oldest).
    bool DetectOsVersion();
    bool IsVistaOr7() const { return m_bVista == 1 || m_bWin7 == 1; }

    BOOL ReadCurrentSettings();

    BOOL LoadInitialSettings();
    static BOOL ReadInitialValue(LPCWSTR section, WCHAR (&out)[MAX_PATH]);
    static std::wstring GetProfilePath();
    // Whether the profile of initial settings is beside the program now.
    static bool HasProfile();

    // Reads each choice from `selection` at the moment it is needed; returns what could not be
    // put in place. A file error of the layout-file step propagates as CFileException and skips
    // the remaining steps.
    FailedSettings ApplySettings(const Selection& selection, CFile& layoutFile,
                                 CFile& copyFile) const;
    // The same steps in the same order for the pairs `request` names only.
    PairOutcomes ApplyPairs(const Selection& selection, const ApplyRequest& request,
                            CFile& layoutFile, CFile& copyFile) const;

private:
    void WriteFirstProfile(const std::wstring& path) const;
};
