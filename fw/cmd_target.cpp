#include "fw/cmd_target.h"

#include "fw/file.h"

const MessageMap* CCmdTarget::GetThisMessageMap() {
    static const MessageMapEntry entries[] = {{0, 0, 0, nullptr}};
    static const MessageMap map = {nullptr, &entries[0]};
    return &map;
}

const MessageMap* CCmdTarget::GetMessageMap() const {
    return GetThisMessageMap();
}

const MessageMapEntry* CCmdTarget::FindEntry(UINT message, UINT code, UINT id) const {
    for (const MessageMap* map = GetMessageMap(); map != nullptr;
         map = map->base != nullptr ? map->base() : nullptr) {
        for (const MessageMapEntry* entry = map->entries; entry->handler != nullptr; ++entry) {
            if (entry->message != message) {
                continue;
            }
            if (message != WM_COMMAND || (entry->code == code && entry->id == id)) {
                return entry;
            }
        }
    }
    return nullptr;
}

bool CCmdTarget::OnCmdMsg(UINT id, UINT code) {
    const MessageMapEntry* entry = FindEntry(WM_COMMAND, code, id);
    if (entry == nullptr) {
        return false;
    }
    CallHandler(*entry, MAKEWPARAM(id, code), 0);
    return true;
}

LRESULT CCmdTarget::CallHandler(const MessageMapEntry& entry, WPARAM wParam, LPARAM lParam) {
    try {
        return entry.handler(*this, wParam, lParam);
    } catch (const CFileException& error) {
        error.ReportError();
        return 0;
    }
}
