// Modal dialogs from a dialog template resource.
#pragma once

#include "fw/wnd.h"

class CDialog : public CWnd {
public:
    explicit CDialog(UINT nIDTemplate, CWnd* pParentWnd = nullptr);

    // Runs the dialog until EndDialog; the value given to EndDialog, or -1 when the dialog
    // could not be created. While it runs, message boxes of the framework belong to it.
    virtual INT_PTR DoModal();
    void EndDialog(int nResult);

protected:
    // Called once the controls exist; TRUE lets the framework put the focus on the first tab stop.
    virtual BOOL OnInitDialog();
    virtual void OnOK();     // ends with IDOK
    virtual void OnCancel(); // ends with IDCANCEL; also the close box and the Escape key
    void OnClose();
    void OnPaint();

    DECLARE_MESSAGE_MAP()

private:
    void FocusFirstTabStop();
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

    UINT m_nIDTemplate;
    CWnd* m_pParentWnd;
};
