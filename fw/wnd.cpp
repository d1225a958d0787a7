#include "fw/wnd.h"

#include "fw/win_app.h"

CWnd::~CWnd() {
    CWinApp* app = AfxGetApp();
    if (app != nullptr && app->m_pMainWnd == this) {
        app->m_pMainWnd = nullptr;
    }
}

HWND CWnd::GetDlgItem(int nID) const {
    return ::GetDlgItem(m_hWnd, nID);
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) const {
    return ::SendMessageW(m_hWnd, message, wParam, lParam);
}

BOOL CWnd::EnableWindow(BOOL bEnable) {
    return ::EnableWindow(m_hWnd, bEnable);
}

HMENU CWnd::GetSystemMenu(BOOL bRevert) const {
    return ::GetSystemMenu(m_hWnd, bRevert);
}

BOOL CWnd::IsIconic() const {
    return ::IsIconic(m_hWnd);
}

void CWnd::GetClientRect(LPRECT rect) const {
    ::GetClientRect(m_hWnd, rect);
}

LRESULT CWnd::Default() {
    m_bDefaultRequested = true;
    return 0;
}

bool CWnd::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    const UINT code = message == WM_COMMAND ? HIWORD(wParam) : 0;
    const UINT id = message == WM_COMMAND ? LOWORD(wParam) : 0;
    const MessageMapEntry* entry = FindEntry(message, code, id);
    if (entry == nullptr) {
        CWinApp* app = AfxGetApp();
        return message == WM_COMMAND && app != nullptr && app->OnCmdMsg(id, code);
    }
    // Handlers can run nested (a handler that opens a modal box receives messages meanwhile).
    const bool outerRequest = m_bDefaultRequested;
    m_bDefaultRequested = false;
    result = CallHandler(*entry, wParam, lParam);
    const bool handled = !m_bDefaultRequested;
    m_bDefaultRequested = outerRequest;
    return handled;
}
