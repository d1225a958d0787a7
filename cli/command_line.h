// The console program's command line: split as CommandLineToArgvW splits it, in our own code so
// that every build and every shell gets the same words, then read into one of four forms.
#pragma once

#include "engine/setting_id.h"

#include <array>
#include <optional>
#include <string>
#include <vector>

// The words of a command line, the program's name first, by CommandLineToArgvW's rules.
std::vector<std::wstring> SplitCommandLine(const std::wstring& line);

struct Command {
    enum class Form { Settings, Restore, Status, Usage };
    Form form = Form::Settings;
    // Settings: ON or OFF for each pair named, by SettingId (SysMain has no switch).
    std::array<std::optional<bool>, kSettingCount> settings{};
    std::optional<std::wstring> logFile;
};

struct ParsedCommand {
    std::optional<Command> command;
    std::wstring reason; // why the line is bad, when there is no command
};

// Reads the words after the program's name.
ParsedCommand ParseCommand(const std::vector<std::wstring>& arguments);
