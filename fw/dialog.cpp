#include "fw/dialog.h"

#include "fw/dialog_placement.h"
#include "fw/file.h"
#include "fw/message_box.h"
#include "fw/win_app.h"

BEGIN_MESSAGE_MAP(CDialog, CWnd)
ON_COMMAND(IDOK, &CDialog::OnOK)
ON_COMMAND(IDCANCEL, &CDialog::OnCancel)
ON_WM_CLOSE()
END_MESSAGE_MAP()

CDialog::CDialog(UINT nIDTemplate, CWnd* pParentWnd)
    : m_nIDTemplate(nIDTemplate), m_pParentWnd(pParentWnd) {}

INT_PTR CDialog::DoModal() {
    const HWND previousOwner = AfxGetMessageBoxOwner();
    // Without an explicit parent the dialog belongs to the one that is running, so that it
    // stays modal to it.
    const HWND owner = m_pParentWnd != nullptr ? m_pParentWnd->m_hWnd : previousOwner;
    const INT_PTR result =
        DialogBoxParamW(AfxGetInstanceHandle(), MAKEINTRESOURCEW(m_nIDTemplate), owner,
                        &CDialog::DialogProc, reinterpret_cast<LPARAM>(this));
    AfxSetMessageBoxOwner(previousOwner);
    m_hWnd = nullptr;
    return result;
}

void CDialog::EndDialog(int nResult) {
    ::EndDialog(m_hWnd, nResult);
}

BOOL CDialog::OnInitDialog() {
    return TRUE;
}

void CDialog::FocusFirstTabStop() {
    // Through the dialog manager, so that a push button receiving the focus also becomes the
    // default button and the Enter key presses it; a plain SetFocus leaves that to chance.
    const HWND first = GetNextDlgTabItem(m_hWnd, nullptr, FALSE);
    if (first != nullptr) {
        ::SendMessageW(m_hWnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(first), TRUE);
    }
}

void CDialog::OnOK() {
    EndDialog(IDOK);
}

void CDialog::OnCancel() {
    EndDialog(IDCANCEL);
}

void CDialog::OnClose() {
    OnCancel();
}

void CDialog::OnPaint() {
    Default();
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* dialog = reinterpret_cast<CDialog*>(lParam);
        SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
        dialog->m_hWnd = hwnd;
        AfxSetMessageBoxOwner(hwnd);
        const DialogPlacement before = AfxPreInitDialog(hwnd);
        BOOL wantsDefaultFocus = TRUE;
        try {
            wantsDefaultFocus = dialog->OnInitDialog();
        } catch (const CFileException& error) {
            error.ReportError();
        }
        AfxPostInitDialog(hwnd, before);
        if (wantsDefaultFocus) {
            dialog->FocusFirstTabStop();
        }
        return FALSE; // the focus has been set here
    }
    // Messages that arrive before WM_INITDIALOG find no object yet.
    auto* dialog = reinterpret_cast<CDialog*>(GetWindowLongPtrW(hwnd, DWLP_USER));
    if (dialog == nullptr) {
        return FALSE;
    }
    LRESULT result = 0;
    if (!dialog->OnWndMsg(message, wParam, lParam, result)) {
        return FALSE;
    }
    switch (message) {
    // The dialog manager takes these results as the procedure's return value.
    case WM_QUERYDRAGICON:
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
    case WM_COMPAREITEM:
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
        return static_cast<INT_PTR>(result);
    default:
        SetWindowLongPtrW(hwnd, DWLP_MSGRESULT, result);
        return TRUE;
    }
}
