// Creating a file where others may have planted a link under its name.
#pragma once

#include "platform/win32.h"

// Like CreateFileW with CREATE_ALWAYS, without ever writing through a link: an existing name is
// emptied only when it is a plain file of its own (one name, not a reparse point); otherwise
// that name is removed, which removes the link and not what it points at, and a new file is
// created only if nothing has taken the name meanwhile.
HANDLE CreateUnlinkedFile(LPCWSTR fileName, DWORD access, DWORD share);

// Opens `fileName` for appending only (created when missing), sharing `share`, waiting out brief
// holds, never through a link: a name that is a symbolic link, a junction or one of several hard
// links is refused with ERROR_ACCESS_DENIED and left as it is, since it is not ours to remove.
HANDLE OpenUnlinkedFileForAppend(LPCWSTR fileName, DWORD share);
