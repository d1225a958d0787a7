#pragma once

#include "fw/win_app.h"

// Runs the main dialog once and ends the process when it closes.
class CQuillmarshApp : public CWinApp {
public:
    BOOL InitInstance() override;

    DECLARE_MESSAGE_MAP()
};

extern CQuillmarshApp theApp;
