#pragma once

#include "fw/dialog.h"

// The About box, opened from the system menu.
class CAboutDlg : public CDialog {
public:
    CAboutDlg();

protected:
    DECLARE_MESSAGE_MAP()
};
