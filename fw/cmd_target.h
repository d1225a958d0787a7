// The root of everything that handles messages: owns the lookup in the message maps and is the
// one place where a handler's file error is caught and reported.
#pragma once

#include "fw/message_map.h"
#include "platform/win32.h"

class CCmdTarget {
public:
    CCmdTarget() = default;
    CCmdTarget(const CCmdTarget&) = delete;
    CCmdTarget& operator=(const CCmdTarget&) = delete;
    virtual ~CCmdTarget() = default;

    // Runs the handler mapped to a WM_COMMAND with this control id and notification code;
    // false when the maps have none.
    bool OnCmdMsg(UINT id, UINT code);

protected:
    static const MessageMap* GetThisMessageMap();
    virtual const MessageMap* GetMessageMap() const;

    // The first matching entry, searching this class's map in declaration order, then the
    // bases' maps; null when none matches.
    const MessageMapEntry* FindEntry(UINT message, UINT code, UINT id) const;

    // Calls the entry's handler. A CFileException that escapes the handler is shown in the
    // standard error box and the message counts as handled, so a dialog stays open.
    LRESULT CallHandler(const MessageMapEntry& entry, WPARAM wParam, LPARAM lParam);
};
