#include "engine/registry.h"
#include "engine/settings_engine.h"

namespace {

std::int32_t QueryOr(LPCWSTR subkey, LPCWSTR valueName, std::int32_t fallback) {
    const std::int32_t value = QueryDword(subkey, valueName);
    return value == -1 ? fallback : value;
}

} // namespace

BOOL SettingsEngine::ReadCurrentSettings() {
    const bool nt6 = IsVistaOr7();
    // Reading order matters to the registry access pattern: SysMain comes before PreFetch.
    m_nCurrent[AutoDefrag] = QueryOr(regkey::kOptimalLayout, L"EnableAutoLayout", nt6 ? 0 : 1);
    m_nCurrent[Index] = QueryOr(nt6 ? regkey::kWSearch : regkey::kCisvc, L"Start", 2);
    m_nCurrent[SuperFetch] = nt6 ? QueryOr(regkey::kPrefetchParameters, L"EnableSuperfetch", 3) : 0;
    m_nCurrent[SysMain] = nt6 ? QueryOr(regkey::kSysMain, L"Start", 2) : -1;
    m_nCurrent[PreFetch] = QueryOr(regkey::kPrefetchParameters, L"EnablePrefetcher", 3);
    m_nCurrent[Trim] =
        m_bWin7 == 1 ? QueryOr(regkey::kFileSystem, L"DisableDeleteNotification", 1) : 1;
    return TRUE;
}
