// What a command does on this PC: the settings, /restore or /status, as output lines.
#pragma once

#include "cli/command_line.h"

#include <string>
#include <vector>

// The exit codes, in the order in which they win over each other.
namespace exitcode {
inline constexpr int kBadCommandLine = 87;    // ERROR_INVALID_PARAMETER
inline constexpr int kNotAdministrator = 740; // ERROR_ELEVATION_REQUIRED
inline constexpr int kNoSnapshot = 2;
inline constexpr int kFailed = 1;
inline constexpr int kRestartNeeded = 3010; // ERROR_SUCCESS_REBOOT_REQUIRED
inline constexpr int kDone = 0;
} // namespace exitcode

// The more serious of two exit codes.
int MoreSeriousExit(int a, int b);

struct RunResult {
    std::vector<std::string> lines; // Name=value, without the ExitCode line
    int exitCode = exitcode::kDone;
    std::wstring message; // for standard error; empty when there is nothing to say
};

// A TRIM tool still running after this long is ended.
inline constexpr unsigned kToolTimeoutMs = 60000;
// How long a run waits for another run on the PC to end.
inline constexpr unsigned kOtherRunTimeoutMs = 300000;

// Runs a Settings, Restore or Status command.
RunResult RunCommand(const Command& command);
