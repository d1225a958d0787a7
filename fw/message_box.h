// Message boxes of the framework: always captioned with the application's name and owned by the
// window that is currently modal, so they block the dialog behind them.
#pragma once

#include "platform/win32.h"

#include <string>

// The executable's file name without its extension.
std::wstring AfxGetAppName();

// A string of the program's string table; empty when there is none.
std::wstring AfxLoadString(UINT nID);

// The window new message boxes belong to; the dialog machinery sets it while a dialog runs.
HWND AfxGetMessageBoxOwner();
void AfxSetMessageBoxOwner(HWND owner);

// Without an icon in nType, OK boxes get the exclamation icon and Yes/No boxes the question icon.
int AfxMessageBox(LPCWSTR text, UINT nType = MB_OK);
int AfxMessageBox(UINT nIDPrompt, UINT nType = MB_OK);
