// Message boxes answered from the test's script, and the module's string table.
#include "sim_internal.h"

#include <algorithm>

namespace sim {

void Machine::SetStringResource(UINT id, const std::wstring& text) {
    impl_->strings[id] = text;
}

} // namespace sim

using namespace sim;

int MessageBoxW(HWND hWnd, LPCWSTR lpText, LPCWSTR lpCaption, UINT uType) {
    if (auto fault = Enter("MessageBoxW", {}, uType)) {
        SetError(*fault);
        return 0;
    }
    Machine& m = TheMachine();
    m.messageBoxes.push_back(MessageBoxRecord{hWnd, Str(lpText), Str(lpCaption), uType});
    // A box with only an OK button has nothing to answer and leaves the script alone.
    if ((uType & MB_TYPEMASK) != MB_OK && !m.messageBoxAnswers.empty()) {
        const int answer = m.messageBoxAnswers.front();
        m.messageBoxAnswers.erase(m.messageBoxAnswers.begin());
        return answer;
    }
    switch (uType & MB_TYPEMASK) {
    case MB_YESNO:
    case MB_YESNOCANCEL:
        return IDNO;
    case 0x2u: // MB_ABORTRETRYIGNORE: abort
        return 3;
    case 0x5u: // MB_RETRYCANCEL
        return IDCANCEL;
    default:
        return IDOK;
    }
}

int LoadStringW(HINSTANCE /*hInstance*/, UINT uID, LPWSTR lpBuffer, int cchBufferMax) {
    if (auto fault = Enter("LoadStringW", {}, uID)) {
        SetError(*fault);
        return 0;
    }
    const auto& strings = State().strings;
    auto it = strings.find(uID);
    // Windows hands out a read-only pointer for cchBufferMax 0; the product never asks for it.
    if (it == strings.end() || !lpBuffer || cchBufferMax <= 0) {
        return 0;
    }
    const std::wstring& text = it->second;
    const std::size_t count = std::min(text.size(), static_cast<std::size_t>(cchBufferMax) - 1);
    std::copy_n(text.begin(), count, lpBuffer);
    lpBuffer[count] = L'\0';
    return static_cast<int>(count);
}
