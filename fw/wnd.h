// A window handle with the operations our dialogs need, and message dispatch through the
// message maps.
#pragma once

#include "fw/cmd_target.h"
#include "platform/win32.h"

class CWnd : public CCmdTarget {
public:
    CWnd() = default;
    ~CWnd() override;

    HWND GetSafeHwnd() const { return m_hWnd; }
    HWND GetDlgItem(int nID) const;
    // Named like the Win32 function, so <windows.h> maps it to SendMessageW as everywhere else.
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
    BOOL EnableWindow(BOOL bEnable = TRUE);
    HMENU GetSystemMenu(BOOL bRevert) const;
    BOOL IsIconic() const;
    void GetClientRect(LPRECT rect) const;

    // Dispatches a message through the maps; WM_COMMAND messages nobody here handles go on to
    // the application object. False when no handler ran, or when the handler asked for the
    // default processing with Default().
    bool OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);

    HWND m_hWnd = nullptr;

protected:
    // Asks for the system's default processing of the message being handled. Our windows are
    // dialogs, whose default processing is the dialog manager's; it runs right after the
    // handler returns.
    LRESULT Default();

private:
    bool m_bDefaultRequested = false;
};
