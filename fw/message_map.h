// Message maps: each window class lists the messages and control notifications it handles in a
// static table; dispatch searches the class's table in declaration order, then its base's.
//
//   BEGIN_MESSAGE_MAP(CMyDlg, CDialog)
//       ON_WM_PAINT()
//       ON_BN_CLICKED(IDC_SOMETHING, &CMyDlg::OnSomething)
//   END_MESSAGE_MAP()
//
// Every entry holds a small thunk instantiated for the handler, so a handler with the wrong
// signature fails to compile instead of being called through a mismatched pointer.
#pragma once

#include "platform/win32.h"

#include <type_traits>

class CCmdTarget;

// `code` and `id` take part in the match only for WM_COMMAND.
struct MessageMapEntry {
    UINT message;
    UINT code;
    UINT id;
    LRESULT (*handler)(CCmdTarget& target, WPARAM wParam, LPARAM lParam);
};

// A table ends with an entry whose handler is null.
struct MessageMap {
    const MessageMap* (*base)();
    const MessageMapEntry* entries;
};

namespace fw::detail {

template <typename Pmf> struct MemberOf;
template <typename C, typename R, typename... Args> struct MemberOf<R (C::*)(Args...)> {
    using Class = C;
};

template <auto Handler> auto& Target(CCmdTarget& target) {
    return static_cast<typename MemberOf<decltype(Handler)>::Class&>(target);
}

template <auto Handler> LRESULT Command(CCmdTarget& target, WPARAM, LPARAM) {
    (Target<Handler>(target).*Handler)();
    return 0;
}

template <auto Handler> LRESULT SysCommand(CCmdTarget& target, WPARAM wParam, LPARAM lParam) {
    (Target<Handler>(target).*Handler)(static_cast<UINT>(wParam), lParam);
    return 0;
}

template <auto Handler> LRESULT QueryDragIcon(CCmdTarget& target, WPARAM, LPARAM) {
    return reinterpret_cast<LRESULT>((Target<Handler>(target).*Handler)());
}

} // namespace fw::detail

// In the class body.
#define DECLARE_MESSAGE_MAP()                                                                      \
protected:                                                                                         \
    static const MessageMap* GetThisMessageMap();                                                  \
    const MessageMap* GetMessageMap() const override;

// In the .cpp file. The table is a local of a member function so that entries may name
// protected handlers.
#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                                     \
    const MessageMap* theClass::GetMessageMap() const {                                            \
        return GetThisMessageMap();                                                                \
    }                                                                                              \
    const MessageMap* theClass::GetThisMessageMap() {                                              \
        using ThisClass = theClass;                                                                \
        using TheBaseClass = baseClass;                                                            \
        static const MessageMapEntry entries[] = {

#define END_MESSAGE_MAP()                                                                          \
    { 0, 0, 0, nullptr }                                                                           \
    }                                                                                              \
    ;                                                                                              \
    static_assert(std::is_base_of_v<TheBaseClass, ThisClass>, "a map falls back to a base's");     \
    static const MessageMap map = {&TheBaseClass::GetThisMessageMap, &entries[0]};                 \
    return &map;                                                                                   \
    }

#define ON_COMMAND(id, memberFxn) {WM_COMMAND, 0, (id), &fw::detail::Command<memberFxn>},
#define ON_BN_CLICKED(id, memberFxn)                                                               \
    {WM_COMMAND, BN_CLICKED, (id), &fw::detail::Command<memberFxn>},
#define ON_WM_CLOSE() {WM_CLOSE, 0, 0, &fw::detail::Command<&ThisClass::OnClose>},
#define ON_WM_PAINT() {WM_PAINT, 0, 0, &fw::detail::Command<&ThisClass::OnPaint>},
#define ON_WM_SYSCOMMAND() {WM_SYSCOMMAND, 0, 0, &fw::detail::SysCommand<&ThisClass::OnSysCommand>},
#define ON_WM_QUERYDRAGICON()                                                                      \
    {WM_QUERYDRAGICON, 0, 0, &fw::detail::QueryDragIcon<&ThisClass::OnQueryDragIcon>},
