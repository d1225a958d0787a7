// The floor for the benchmark: the product's own main dialog template, shown modally with a
// dialog procedure that shows what the product shows on a fresh Windows 7's first run (the
// pairs, the greyed Prefetch pair, the icons, where it opens) without any of its work, and
// ends on OK or Cancel.
#include <windows.h>

#include "fw/dialog_placement.h"
#include "res/resource.h"

namespace {

// The radios the product checks when the registry holds none of its values.
constexpr int kChecked[] = {IDC_AUTODEFRAG_OFF, IDC_INDEX_ON, IDC_SUPERFETCH_ON, IDC_PREFETCH_ON,
                            IDC_TRIM_OFF};

INT_PTR CALLBACK BareProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) {
        const DialogPlacement before = AfxPreInitDialog(dialog);
        const HICON icon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME));
        SendMessageW(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
        SendMessageW(dialog, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
        for (const int id : kChecked) {
            CheckDlgButton(dialog, id, BST_CHECKED);
        }
        EnableWindow(GetDlgItem(dialog, IDC_PREFETCH_ON), FALSE);
        EnableWindow(GetDlgItem(dialog, IDC_PREFETCH_OFF), FALSE);
        AfxPostInitDialog(dialog, before);
        return TRUE;
    }
    if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        EndDialog(dialog, LOWORD(wParam));
        return TRUE;
    }
    return FALSE;
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) {
    return static_cast<int>(
        DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_QUILLMARSH_DIALOG), nullptr, BareProc, 0));
}
