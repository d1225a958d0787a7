#include "ui/quillmarsh_app.h"

#include "ui/quillmarsh_dlg.h"

#include "fw/system_library.h"

#include <commctrl.h>

BEGIN_MESSAGE_MAP(CQuillmarshApp, CWinApp)
ON_COMMAND(ID_HELP, &CWinApp::OnHelp)
END_MESSAGE_MAP()

CQuillmarshApp theApp;

BOOL CQuillmarshApp::InitInstance() {
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof(controls);
    controls.dwICC = ICC_WIN95_CLASSES;
    // Without them the dialog still opens, only in the older look.
    using InitCommonControlsExFunction = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
    if (const auto initCommonControlsEx = SystemFunction<InitCommonControlsExFunction>(
            L"comctl32.dll", "InitCommonControlsEx", DllOrigin::SideBySide)) {
        initCommonControlsEx(&controls);
    }

    CWinApp::InitInstance();
    // Our framework hosts no ActiveX controls, so there is no control container to enable.

    CQuillmarshDlg dlg;
    m_pMainWnd = &dlg;
    dlg.DoModal();
    // Not entering the message pump ends the application.
    return FALSE;
}
