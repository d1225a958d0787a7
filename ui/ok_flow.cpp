#include "ui/ok_flow.h"

#include "engine/restart.h"
#include "fw/file.h"
#include "fw/message_box.h"
#include "res/resource.h"

#include <string>

namespace {

struct FeatureName {
    SettingId setting;
    UINT text;
};

// The pairs' group box texts without their brackets, in the dialog's order.
constexpr FeatureName kFeatureNames[] = {{AutoDefrag, IDS_NAME_AUTODEFRAG},
                                         {Index, IDS_NAME_INDEX},
                                         {SuperFetch, IDS_NAME_SUPERFETCH},
                                         {PreFetch, IDS_NAME_PREFETCH},
                                         {Trim, IDS_NAME_TRIM}};

void ReportNotChanged(const FailedSettings& failed) {
    std::wstring text = AfxLoadString(IDS_NOT_CHANGED);
    for (const FeatureName& feature : kFeatureNames) {
        if (failed.test(feature.setting)) {
            text += L'\n';
            text += AfxLoadString(feature.text);
        }
    }
    AfxMessageBox(text.c_str(), MB_OK | MB_ICONEXCLAMATION);
}

// Without the snapshot, a later run would take these changes for the first settings and the way
// back to the present ones would be gone: that is the user's call, and No is the safe answer.
bool MayChangeSettings() {
    return SettingsEngine::HasProfile() ||
           AfxMessageBox(IDS_NO_SNAPSHOT, MB_YESNO | MB_ICONEXCLAMATION | MB_DEFBUTTON2) == IDYES;
}

} // namespace

void RunOkFlow(const SettingsEngine& engine, const Selection& selection, DialogCloser& closer) {
    if (!MayChangeSettings()) {
        return;
    }
    // Both files belong to this handler: one left open (and locked) by a failed layout-file
    // step stays so until the handler is over.
    CFile layoutFile;
    CFile copyFile;
    const FailedSettings failed = engine.ApplySettings(selection, layoutFile, copyFile);
    // Whatever did change still needs the restart, so the question follows.
    if (failed.any()) {
        ReportNotChanged(failed);
    }
    if (AfxMessageBox(IDS_RESTART_PROMPT, MB_YESNO | MB_ICONINFORMATION) == IDYES) {
        RestartComputer();
    }
    closer.CloseWithOk();
}
