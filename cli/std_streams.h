#pragma once

#include "cli/console_streams.h"

// The process's standard output and standard error. Standard error shown in a console gets the
// text as it is; redirected, it gets the console's code page, as the console's own tools write.
class StdStreams final : public ConsoleStreams {
public:
    void Out(const std::string& ascii) override;
    void Err(const std::wstring& text) override;
};
