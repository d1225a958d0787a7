// The application object. Exactly one global instance exists; the framework's entry point finds
// it, runs InitInstance and, when that returns FALSE, ends the process.
#pragma once

#include "fw/cmd_target.h"
#include "platform/win32.h"

class CWnd;

#ifndef ID_HELP
#define ID_HELP 0xE146
#endif

class CWinApp : public CCmdTarget {
public:
    CWinApp();
    ~CWinApp() override;

    virtual BOOL InitInstance();
    // The message pump, for applications whose InitInstance returns TRUE.
    virtual int Run();
    // The process's exit code.
    virtual int ExitInstance();

    void OnHelp();

    HINSTANCE m_hInstance = nullptr;
    CWnd* m_pMainWnd = nullptr;

private:
    int m_nExitCode = 0;
};

CWinApp* AfxGetApp();
HINSTANCE AfxGetInstanceHandle();

// What the process entry point runs.
int AfxWinMain(HINSTANCE hInstance);
