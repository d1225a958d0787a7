#pragma once

#include <string>

// Where the console program writes: standard output (ASCII lines, already with CR LF) and
// standard error (texts for a person, in Japanese).
class ConsoleStreams {
public:
    virtual void Out(const std::string& ascii) = 0;
    virtual void Err(const std::wstring& text) = 0;

protected:
    ~ConsoleStreams() = default;
};
