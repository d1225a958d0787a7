// Where a dialog opens: centred over its owner, or on its monitor's work area, unless its own
// initialisation placed or showed it. The framework does this for every dialog it runs.
#pragma once

#include "platform/win32.h"

// The dialog as it was before its initialisation.
struct DialogPlacement {
    RECT rect{};
    bool wasVisible = false;
};

// On WM_INITDIALOG: AfxPreInitDialog before the dialog's own initialisation, AfxPostInitDialog
// after it.
DialogPlacement AfxPreInitDialog(HWND dialog);
void AfxPostInitDialog(HWND dialog, const DialogPlacement& before);
