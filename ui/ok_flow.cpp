#include "ui/ok_flow.h"

#include "engine/restart.h"
#include "fw/file.h"
#include "fw/message_box.h"
#include "res/resource.h"

void RunOkFlow(const SettingsEngine& engine, const Selection& selection, DialogCloser& closer) {
    // Both files belong to this handler: one left open (and locked) by a failed layout-file
    // step stays so until the handler is over.
    CFile layoutFile;
    CFile copyFile;
    engine.ApplySettings(selection, layoutFile, copyFile);
    if (AfxMessageBox(IDS_RESTART_PROMPT, MB_YESNO | MB_ICONINFORMATION) == IDYES) {
        RestartComputer();
    }
    closer.CloseWithOk();
}
