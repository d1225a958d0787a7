#include "ui/quillmarsh_dlg.h"

#include "fw/win_app.h"
#include "res/resource.h"
#include "ui/about_dlg.h"

#include <iterator>

BEGIN_MESSAGE_MAP(CQuillmarshDlg, CDialog)
ON_WM_SYSCOMMAND()
ON_WM_PAINT()
ON_WM_QUERYDRAGICON()
ON_BN_CLICKED(IDC_ALL_OFF, &CQuillmarshDlg::OnAllOff)
ON_BN_CLICKED(IDC_RESTORE_INITIAL, &CQuillmarshDlg::OnRestoreInitial)
ON_BN_CLICKED(IDOK, &CQuillmarshDlg::OnBnClickedOk)
ON_BN_CLICKED(IDC_SUPERFETCH_ON, &CQuillmarshDlg::OnSuperFetchOn)
ON_BN_CLICKED(IDC_SUPERFETCH_OFF, &CQuillmarshDlg::OnSuperFetchOff)
END_MESSAGE_MAP()

CQuillmarshDlg::CQuillmarshDlg(CWnd* pParent)
    : CDialog(IDD_QUILLMARSH_DIALOG, pParent),
      m_hIcon(LoadIconW(AfxGetInstanceHandle(), MAKEINTRESOURCEW(IDR_MAINFRAME))) {}

BOOL CQuillmarshDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    AddAboutMenuItem();
    SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessage(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));

    m_engine.DetectOsVersion();
    m_engine.ReadCurrentSettings();
    ShowSettings(m_engine.m_nCurrent);
    m_engine.LoadInitialSettings();
    return TRUE; // the dialog manager puts the focus on the first tab stop
}

void CQuillmarshDlg::AddAboutMenuItem() {
    const HMENU systemMenu = GetSystemMenu(FALSE);
    if (systemMenu == nullptr) {
        return;
    }
    WCHAR text[256] = {};
    LoadStringW(AfxGetInstanceHandle(), IDS_ABOUTBOX, text, static_cast<int>(std::size(text)));
    if (text[0] != L'\0') {
        AppendMenuW(systemMenu, MF_SEPARATOR, 0, nullptr);
        AppendMenuW(systemMenu, MF_STRING, IDM_ABOUTBOX, text);
    }
}

void CQuillmarshDlg::OnSysCommand(UINT nID, LPARAM) {
    if ((nID & 0xFFF0) == IDM_ABOUTBOX) {
        CAboutDlg about;
        about.DoModal();
    } else {
        Default();
    }
}

void CQuillmarshDlg::OnPaint() {
    if (!IsIconic()) {
        CDialog::OnPaint();
        return;
    }
    PAINTSTRUCT paint{};
    const HDC dc = BeginPaint(m_hWnd, &paint);
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT client{};
    GetClientRect(&client);
    const int x = (client.right - client.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
    const int y = (client.bottom - client.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
    DrawIcon(dc, x, y, m_hIcon);
    EndPaint(m_hWnd, &paint);
}

HCURSOR CQuillmarshDlg::OnQueryDragIcon() {
    return static_cast<HCURSOR>(m_hIcon);
}

void CQuillmarshDlg::OnAllOff() {
    SetAllOff(*this);
}

void CQuillmarshDlg::OnRestoreInitial() {
    ShowSettings(m_engine.m_nInitial);
}

void CQuillmarshDlg::OnBnClickedOk() {
    const RadioSelection selection(*this);
    RunOkFlow(m_engine, selection, *this);
}

void CQuillmarshDlg::OnSuperFetchOn() {
    FollowSuperFetch(*this, true, m_engine.IsVistaOr7());
}

void CQuillmarshDlg::OnSuperFetchOff() {
    FollowSuperFetch(*this, false, m_engine.IsVistaOr7());
}

void CQuillmarshDlg::ShowSettings(const SettingValues& values) {
    ::ShowSettings(*this, values, m_engine.IsVistaOr7(), m_engine.m_bWin7 == 1);
}

void CQuillmarshDlg::SetCheck(int id, bool checked) {
    const HWND radio = GetDlgItem(id);
    ::SendMessageW(radio, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
    // Checking a radio also gives it a tab stop; ours stay out of the tab order so that the
    // focus starts on the Restore button and Tab cycles through the push buttons only.
    const LONG_PTR style = GetWindowLongPtrW(radio, GWL_STYLE);
    if ((style & WS_TABSTOP) != 0) {
        SetWindowLongPtrW(radio, GWL_STYLE, style & ~static_cast<LONG_PTR>(WS_TABSTOP));
    }
}

bool CQuillmarshDlg::IsChecked(int id) const {
    return ::SendMessageW(GetDlgItem(id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void CQuillmarshDlg::Enable(int id, bool enabled) {
    ::EnableWindow(GetDlgItem(id), enabled);
}

void CQuillmarshDlg::CloseWithOk() {
    CDialog::OnOK();
}
