#include "engine/layout_file.h"
#include "engine/registry.h"
#include "engine/run_hidden.h"
#include "engine/settings_engine.h"

#include <cwchar>

namespace {

constexpr DWORD kAutomatic = 2;
constexpr DWORD kManual = 3;
constexpr DWORD kDisabled = 4;

// Switching a service back on restores the start type the first run found, when that was
// automatic or manual.
DWORD ServiceStartType(bool on, DWORD onByDefault, std::int32_t initial) {
    if (!on) {
        return kDisabled;
    }
    if (initial == static_cast<std::int32_t>(kAutomatic) ||
        initial == static_cast<std::int32_t>(kManual)) {
        return static_cast<DWORD>(initial);
    }
    return onByDefault;
}

// The tool's exit code is not documented; what TRIM obeys is the value the tool stores, so that
// is what counts. An absent or unreadable value is no change.
bool TrimIs(bool on) {
    const std::int32_t stored = QueryDword(regkey::kFileSystem, L"DisableDeleteNotification");
    return stored != -1 && (stored == 0) == on;
}

} // namespace

FailedSettings SettingsEngine::ApplySettings(const Selection& selection, CFile& layoutFile,
                                             CFile& copyFile) const {
    FailedSettings failed;
    // A failed step does not stop the later ones.
    const auto store = [&failed](SettingId setting, LPCWSTR subkey, LPCWSTR name, DWORD data) {
        if (!SetDword(subkey, name, data)) {
            failed.set(setting);
        }
    };
    const bool nt6 = IsVistaOr7();
    store(AutoDefrag, regkey::kOptimalLayout, L"EnableAutoLayout",
          selection.AutoDefragOn() ? 1 : 0);
    store(Index, nt6 ? regkey::kWSearch : regkey::kCisvc, L"Start",
          ServiceStartType(selection.IndexOn(), nt6 ? kAutomatic : kManual, m_nInitial[Index]));
    if (nt6) {
        store(SuperFetch, regkey::kPrefetchParameters, L"EnableSuperfetch",
              selection.SuperFetchOn() ? 3 : 0);
        store(SuperFetch, regkey::kSysMain, L"Start",
              ServiceStartType(selection.SuperFetchOn(), kAutomatic, m_nInitial[SysMain]));
    }
    if (!ProtectLayoutFile(selection.PreFetchOn(), layoutFile, copyFile)) {
        failed.set(PreFetch);
    }
    store(PreFetch, regkey::kPrefetchParameters, L"EnablePrefetcher",
          selection.PreFetchOn() ? 3 : 0);
    if (m_bWin7 == 1) {
        WCHAR parameters[64] = {};
        const bool trimOn = selection.TrimOn();
        std::swprintf(parameters, 64, L"behavior set DisableDeleteNotify %d", trimOn ? 0 : 1);
        if (!RunHidden(L"fsutil.exe", parameters) || !TrimIs(trimOn)) {
            failed.set(Trim);
        }
    }
    return failed;
}
