// The work behind the main dialog's OK button.
#pragma once

#include "engine/selection.h"
#include "engine/settings_engine.h"

// What ends the dialog with IDOK.
class DialogCloser {
public:
    virtual void CloseWithOk() = 0;

protected:
    ~DialogCloser() = default;
};

// When no snapshot of the first settings is beside the program, asks first; unless the answer is
// Yes, does nothing more and leaves the dialog open. Then applies the selection, names what could
// not be changed, asks whether to restart now, restarts on Yes, and closes the dialog after either
// answer. A file error of the layout-file step escapes as CFileException before the restart
// question, leaving the dialog open.
void RunOkFlow(const SettingsEngine& engine, const Selection& selection, DialogCloser& closer);
