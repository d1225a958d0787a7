#pragma once

#include "platform/win32.h"

#include <string>
#include <vector>

// Appends a "Run=<local time> <command line>" line and `lines` to the log at `path`, in UTF-8
// without a byte order mark, CR LF after each line. The file is shared for reading and writing
// and never written through a link. NO_ERROR, or what refused it.
DWORD AppendRunLog(const std::wstring& path, const std::wstring& commandLine,
                   const std::vector<std::string>& lines);
