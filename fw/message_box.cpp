#include "fw/message_box.h"

namespace {

HWND g_messageBoxOwner = nullptr;

UINT WithDefaultIcon(UINT type) {
    if ((type & MB_ICONMASK) != 0) {
        return type;
    }
    switch (type & MB_TYPEMASK) {
    case MB_OK:
    case MB_OKCANCEL:
        return type | MB_ICONEXCLAMATION;
    case MB_YESNO:
    case MB_YESNOCANCEL:
        return type | MB_ICONQUESTION;
    default:
        return type;
    }
}

} // namespace

std::wstring AfxGetAppName() {
    WCHAR path[MAX_PATH + 1] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return L"Quillmarsh";
    }
    std::wstring name(path, length);
    const auto slash = name.find_last_of(L"\\/");
    if (slash != std::wstring::npos) {
        name.erase(0, slash + 1);
    }
    const auto dot = name.find_last_of(L'.');
    if (dot != std::wstring::npos && dot != 0) {
        name.erase(dot);
    }
    return name;
}

HWND AfxGetMessageBoxOwner() {
    return g_messageBoxOwner;
}

void AfxSetMessageBoxOwner(HWND owner) {
    g_messageBoxOwner = owner;
}

int AfxMessageBox(LPCWSTR text, UINT nType) {
    const std::wstring caption = AfxGetAppName();
    return MessageBoxW(g_messageBoxOwner, text, caption.c_str(), WithDefaultIcon(nType));
}

std::wstring AfxLoadString(UINT nID) {
    WCHAR text[1024] = {};
    LoadStringW(nullptr, nID, text, static_cast<int>(sizeof(text) / sizeof(text[0])));
    return text;
}

int AfxMessageBox(UINT nIDPrompt, UINT nType) {
    return AfxMessageBox(AfxLoadString(nIDPrompt).c_str(), nType);
}
