// The console program's command line: how it is split into words, and which lines are one of the
// four forms. A bad line ends with 87 before the machine is asked anything.
#include "cli/command_line.h"
#include "captured_streams.h"
#include "cli/console_program.h"
#include "sim/machine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct SplitRow {
    std::wstring line;
    std::vector<std::wstring> words;
};

// Rows as Windows' CommandLineToArgvW splits them (test_commandline2argv,
// dlls/shell32/tests/shlexec.c, which runs on Windows).
TEST(CliCommandLine, SplitsAsCommandLineToArgvW) {
    const SplitRow rows[] = {
        {L"exe", {L"exe"}},
        {L"exe arg=1 three\tfour\rfour ", {L"exe", L"arg=1", L"three", L"four\rfour"}},
        {L"exe arg\"one\" \"second\"arg", {L"exe", L"argone", L"secondarg"}},
        {L"exe arg1 \"unclosed", {L"exe", L"arg1", L"unclosed"}},
        {L"exe arg1 \"", {L"exe", L"arg1", L""}},
        {L"exe o\\ne t\\\\wo", {L"exe", L"o\\ne", L"t\\\\wo"}},
        {L"exe \\\"one \\\\\"two\" \\\\\\\"three end",
         {L"exe", L"\"one", L"\\two", L"\\\"three", L"end"}},
        {L"exe three\"\"\"quotes two\"\"quotes", {L"exe", L"three\"quotes", L"twoquotes"}},
        {L"exe \"two\"\"quotes next", {L"exe", L"two\"quotes", L"next"}},
        {L"exe\"file\"path arg1", {L"exe\"file\"path", L"arg1"}},
        {L"\"spaced exe\\\"arg1 arg2", {L"spaced exe\\", L"arg1", L"arg2"}},
        {L"\"exe\"arg\" one\" argtwo", {L"exe", L"arg one", L"argtwo"}},
        {L" \"arg\"one argtwo", {L"", L"argone", L"argtwo"}},
        {L"q.exe /log=\"C:\\my logs\\qm.log\" /Index:off",
         {L"q.exe", L"/log=C:\\my logs\\qm.log", L"/Index:off"}},
    };
    for (const SplitRow& row : rows) {
        EXPECT_EQ(SplitCommandLine(row.line), row.words);
    }
}

struct FormRow {
    std::vector<std::wstring> arguments;
    Command::Form form;
};

TEST(CliCommandLine, EachValidForm) {
    const FormRow rows[] = {
        {{L"/AutoDefrag:on"}, Command::Form::Settings},
        {{L"-index=OFF", L"/quiet", L"/log:C:\\l.log", L"/TRIM:On"}, Command::Form::Settings},
        {{L"/SuperFetch:off", L"/PreFetch:on", L"/autodefrag:off"}, Command::Form::Settings},
        {{L"/quiet", L"/restore"}, Command::Form::Restore},
        {{L"/RESTORE", L"/log=r.log"}, Command::Form::Restore},
        {{L"/status"}, Command::Form::Status},
        {{L"/log:s.log", L"-Status"}, Command::Form::Status},
        {{L"/?"}, Command::Form::Usage},
        {{L"-?"}, Command::Form::Usage},
    };
    for (const FormRow& row : rows) {
        const ParsedCommand parsed = ParseCommand(row.arguments);
        ASSERT_TRUE(parsed.command.has_value()) << row.arguments[0] << ": " << parsed.reason.size();
        EXPECT_EQ(parsed.command->form, row.form) << row.arguments[0];
    }
    const ParsedCommand settings = ParseCommand({L"-index=OFF", L"/log:C:\\l.log", L"/TRIM:On"});
    ASSERT_TRUE(settings.command.has_value());
    EXPECT_EQ(settings.command->settings[Index], false);
    EXPECT_EQ(settings.command->settings[Trim], true);
    EXPECT_FALSE(settings.command->settings[AutoDefrag].has_value());
    EXPECT_EQ(settings.command->logFile, L"C:\\l.log");
}

class CliBadLineTest : public ::testing::Test {
protected:
    void SetUp() override { sim::TheMachine().Reset(); }
};

TEST_F(CliBadLineTest, EachKindOfBadLineEndsWith87BeforeAnythingIsReadOrWritten) {
    const std::wstring bad[] = {
        L"",                                // no arguments
        L"/quiet",                          // nothing to do
        L"/log:x.log",                      // nothing to do
        L"/SysMain:off",                    // not one of the five names
        L"/Defrag:off",                     // unknown switch
        L"AutoDefrag:off",                  // a stray word
        L"/ /Index:off",                    // a bare switch character
        L"/Index",                          // no value
        L"/Index:",                         // an empty value
        L"/Index:yes",                      // neither on nor off
        L"/Index:on /index:off",            // named twice
        L"/restore /Index:on",              // restore with a setting
        L"/status /Trim:on",                // status with a setting
        L"/? /Trim:on",                     // usage with a setting
        L"/restore /status",                // two forms
        L"/status /?",                      // two forms
        L"/status /quiet",                  // status takes no /quiet
        L"/? /log:x.log",                   // usage stands alone
        L"/quiet /quiet /Index:on",         // a switch twice
        L"/restore:yes",                    // a value where none belongs
        L"/Index:on /log:a.log /log:b.log", // log twice
        L"/Index:on /log:",                 // log empty
        L"/Index:on \"/log=\"",             // log empty, quoted
    };
    for (const std::wstring& arguments : bad) {
        SetUp();
        CapturedStreams streams;
        EXPECT_EQ(RunConsoleProgram(L"QuillmarshCli.exe " + arguments, streams), 87)
            << arguments.size();
        EXPECT_TRUE(sim::TheMachine().calls.empty()) << "nothing read or written";
        EXPECT_TRUE(streams.out.empty());
        EXPECT_NE(streams.err.find(kUsageText), std::wstring::npos) << "the reason, then the usage";
        EXPECT_GT(streams.err.size(), std::wstring(kUsageText).size());
    }
}

TEST_F(CliBadLineTest, UsageAloneGoesToStandardErrorAndEndsWith0) {
    CapturedStreams streams;
    EXPECT_EQ(RunConsoleProgram(L"\"C:\\Tools\\QuillmarshCli.exe\" /?", streams), 0);
    EXPECT_EQ(streams.err, kUsageText);
    EXPECT_TRUE(streams.out.empty());
    EXPECT_TRUE(sim::TheMachine().calls.empty());
}

} // namespace
