#include "engine/layout_file.h"
#include "engine/registry.h"
#include "engine/run_hidden.h"
#include "engine/settings_engine.h"

#include "fw/file.h"

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
// is what counts. An absent or unreadable value is not as asked.
DWORD TrimValueError(bool on) {
    const std::int32_t stored = QueryDword(regkey::kFileSystem, L"DisableDeleteNotification");
    if (stored == -1) {
        return ERROR_FILE_NOT_FOUND;
    }
    return (stored == 0) == on ? NO_ERROR : static_cast<DWORD>(ERROR_INVALID_DATA);
}

class PairWriter {
public:
    explicit PairWriter(const ApplyRequest& request) : m_request(request) {}

    bool Named(SettingId pair) const { return m_request.pairs.test(pair); }

    // A failed store does not stop the later ones.
    void Store(SettingId pair, LPCWSTR subkey, LPCWSTR name, DWORD data, const char* step) {
        // An unreadable value reads as -1, which no item ever writes.
        if (m_request.onlyWhatDiffers &&
            QueryDword(subkey, name) == static_cast<std::int32_t>(data)) {
            return;
        }
        const LSTATUS status = SetDword(subkey, name, data);
        if (status == ERROR_SUCCESS) {
            m_outcomes[pair].Change();
        } else {
            m_outcomes[pair].Fail(static_cast<DWORD>(status), step);
        }
    }

    void ProtectLayout(bool prefetchOn, CFile& layoutFile, CFile& copyFile) {
        const LayoutFileOptions options{m_request.onlyWhatDiffers, m_request.copyBesideLayoutFile};
        try {
            m_outcomes[PreFetch].Merge(
                ProtectLayoutFile(prefetchOn, layoutFile, copyFile, options));
        } catch (const CFileException& error) {
            if (!m_request.fileErrorFailsPrefetch) {
                throw;
            }
            m_outcomes[PreFetch].Fail(static_cast<DWORD>(error.m_lOsError),
                                      "changing the layout file");
        }
    }

    void SetTrim(bool on) {
        if (m_request.onlyWhatDiffers && TrimValueError(on) == NO_ERROR) {
            return;
        }
        WCHAR parameters[64] = {};
        std::swprintf(parameters, 64, L"behavior set DisableDeleteNotify %d", on ? 0 : 1);
        const ToolRun run = RunFsutil(parameters, m_request.toolTimeout, m_request.toolStart);
        if (run.error != NO_ERROR) {
            m_outcomes[Trim].Fail(run.error, run.step);
        } else if (const DWORD wrong = TrimValueError(on); wrong != NO_ERROR) {
            m_outcomes[Trim].Fail(wrong, "reading back DisableDeleteNotification");
        } else {
            m_outcomes[Trim].Change();
        }
    }

    const PairOutcomes& Outcomes() const { return m_outcomes; }

private:
    const ApplyRequest& m_request;
    PairOutcomes m_outcomes{};
};

} // namespace

PairOutcomes SettingsEngine::ApplyPairs(const Selection& selection, const ApplyRequest& request,
                                        CFile& layoutFile, CFile& copyFile) const {
    PairWriter writer(request);
    const bool nt6 = IsVistaOr7();
    if (writer.Named(AutoDefrag)) {
        writer.Store(AutoDefrag, regkey::kOptimalLayout, L"EnableAutoLayout",
                     selection.AutoDefragOn() ? 1 : 0, "writing EnableAutoLayout");
    }
    if (writer.Named(Index)) {
        writer.Store(
            Index, nt6 ? regkey::kWSearch : regkey::kCisvc, L"Start",
            ServiceStartType(selection.IndexOn(), nt6 ? kAutomatic : kManual, m_nInitial[Index]),
            nt6 ? "writing Start of WSearch" : "writing Start of cisvc");
    }
    if (nt6 && writer.Named(SuperFetch)) {
        writer.Store(SuperFetch, regkey::kPrefetchParameters, L"EnableSuperfetch",
                     selection.SuperFetchOn() ? 3 : 0, "writing EnableSuperfetch");
        writer.Store(SuperFetch, regkey::kSysMain, L"Start",
                     ServiceStartType(selection.SuperFetchOn(), kAutomatic, m_nInitial[SysMain]),
                     "writing Start of SysMain");
    }
    if (writer.Named(PreFetch)) {
        writer.ProtectLayout(selection.PreFetchOn(), layoutFile, copyFile);
        writer.Store(PreFetch, regkey::kPrefetchParameters, L"EnablePrefetcher",
                     selection.PreFetchOn() ? 3 : 0, "writing EnablePrefetcher");
    }
    if (m_bWin7 == 1 && writer.Named(Trim)) {
        writer.SetTrim(selection.TrimOn());
    }
    return writer.Outcomes();
}

FailedSettings SettingsEngine::ApplySettings(const Selection& selection, CFile& layoutFile,
                                             CFile& copyFile) const {
    ApplyRequest everything;
    everything.pairs.set();
    const PairOutcomes outcomes = ApplyPairs(selection, everything, layoutFile, copyFile);
    FailedSettings failed;
    for (int pair = 0; pair < kSettingCount; ++pair) {
        failed.set(static_cast<std::size_t>(pair),
                   outcomes[static_cast<std::size_t>(pair)].Failed());
    }
    return failed;
}
