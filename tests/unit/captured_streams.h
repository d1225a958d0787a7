// The console program's streams, kept for a test to read.
#pragma once

#include "cli/console_program.h"

#include <string>

class CapturedStreams : public ConsoleStreams {
public:
    void Out(const std::string& ascii) override { out += ascii; }
    void Err(const std::wstring& text) override { err += text; }
    std::string out;
    std::wstring err;
};
