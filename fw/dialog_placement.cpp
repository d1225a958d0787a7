#include "fw/dialog_placement.h"

#include <algorithm>

namespace {

bool HasStyle(HWND window, LONG_PTR style) {
    return (GetWindowLongPtrW(window, GWL_STYLE) & style) != 0;
}

// Centred over the owner when it is on the screen and not minimised, else on the work area;
// kept inside the work area of the monitor it is centred on.
bool CentreAndArea(HWND dialog, HWND owner, RECT& centre, RECT& area) {
    const bool overOwner = owner != nullptr && HasStyle(owner, WS_VISIBLE) &&
                           !HasStyle(owner, WS_MINIMIZE) && GetWindowRect(owner, &centre);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    if (!GetMonitorInfoW(overOwner ? MonitorFromWindow(owner, MONITOR_DEFAULTTONEAREST)
                                   : MonitorFromWindow(dialog, MONITOR_DEFAULTTOPRIMARY),
                         &monitor)) {
        return false;
    }
    area = monitor.rcWork;
    if (!overOwner) {
        centre = area;
    }
    return true;
}

} // namespace

DialogPlacement AfxPreInitDialog(HWND dialog) {
    DialogPlacement before;
    GetWindowRect(dialog, &before.rect);
    before.wasVisible = HasStyle(dialog, WS_VISIBLE);
    return before;
}

void AfxPostInitDialog(HWND dialog, const DialogPlacement& before) {
    // A dialog that showed or moved itself, or is part of another window, stays where it is; so
    // does one whose owner is still enabled, as it is not modal to it.
    const HWND owner = GetWindow(dialog, GW_OWNER);
    RECT now{};
    if (before.wasVisible || HasStyle(dialog, WS_VISIBLE | WS_CHILD) ||
        !GetWindowRect(dialog, &now) || now.left != before.rect.left ||
        now.top != before.rect.top || (owner != nullptr && IsWindowEnabled(owner))) {
        return;
    }
    RECT centre{};
    RECT area{};
    if (!CentreAndArea(dialog, owner, centre, area)) {
        return;
    }
    const LONG width = now.right - now.left;
    const LONG height = now.bottom - now.top;
    // One larger than the work area keeps its top-left corner in it.
    const LONG left = std::max(
        area.left, std::min((centre.left + centre.right) / 2 - width / 2, area.right - width));
    const LONG top = std::max(
        area.top, std::min((centre.top + centre.bottom) / 2 - height / 2, area.bottom - height));
    SetWindowPos(dialog, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}
