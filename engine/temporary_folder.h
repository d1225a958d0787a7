#pragma once

#include <string>

// Whether `folder` lies inside a temporary folder, whose files are cleaned away sooner or later:
// the user's (GetTempPathW), or one where Explorer extracts a zip to run a program from it
// ("Temp<digits>_<name>.zip"). The user's temporary folder counts only when it is a folder of
// its own, not a drive's root, the Windows folder or the user's profile folder.
bool IsInTemporaryFolder(const std::wstring& folder);
