// The console program from its command line to its exit code.
#pragma once

#include "cli/console_streams.h"

#include <string>

// The usage, in Japanese, as standard error shows it.
extern const wchar_t* const kUsageText;

// Reads `commandLine` (as GetCommandLineW gives it), does what it asks, writes the output and the
// log, and returns the exit code. A bad command line reads and writes nothing.
int RunConsoleProgram(const std::wstring& commandLine, ConsoleStreams& streams);
