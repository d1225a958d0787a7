#include "cli/console_program.h"

#include "cli/command_line.h"
#include "cli/console_run.h"
#include "cli/run_log.h"

const wchar_t* const kUsageText =
    L"使い方:\r\n"
    L"  QuillmarshCli.exe [/quiet] [/AutoDefrag:on|off] [/Index:on|off] [/SuperFetch:on|off] "
    L"[/PreFetch:on|off] [/Trim:on|off] [/log:FILE]\r\n"
    L"  QuillmarshCli.exe [/quiet] /restore [/log:FILE]\r\n"
    L"  QuillmarshCli.exe /status [/log:FILE]\r\n"
    L"  QuillmarshCli.exe /?\r\n"
    L"\r\n"
    L"  /AutoDefrag など   指定した設定だけを on (ON) または off (OFF) にします。\r\n"
    L"  /restore           このPCの最初の設定に戻します。\r\n"
    L"  /status            今の設定を表示します。何も変更しません。\r\n"
    L"  /log:FILE          標準出力と同じ内容を FILE に追記します。\r\n"
    L"  /quiet             受け付けるだけです。ウィンドウはいつも表示しません。\r\n";

int RunConsoleProgram(const std::wstring& commandLine, ConsoleStreams& streams) {
    std::vector<std::wstring> words = SplitCommandLine(commandLine);
    words.erase(words.begin()); // the program's name
    const ParsedCommand parsed = ParseCommand(words);
    if (!parsed.command) {
        streams.Err(L"コマンドラインが正しくありません。" + parsed.reason + L"\r\n\r\n" +
                    kUsageText);
        return exitcode::kBadCommandLine;
    }
    const Command& command = *parsed.command;
    if (command.form == Command::Form::Usage) {
        streams.Err(kUsageText);
        return exitcode::kDone;
    }
    RunResult result = RunCommand(command);
    if (!result.message.empty()) {
        streams.Err(result.message + L"\r\n");
    }
    if (command.logFile) {
        std::vector<std::string> logged = result.lines;
        logged.push_back("ExitCode=" + std::to_string(result.exitCode));
        if (const DWORD error = AppendRunLog(*command.logFile, commandLine, logged);
            error != NO_ERROR) {
            streams.Err(L"ログ " + *command.logFile + L" に書き込めませんでした (エラー " +
                        std::to_wstring(error) + L")。\r\n");
            result.exitCode = MoreSeriousExit(result.exitCode, exitcode::kFailed);
        }
    }
    result.lines.push_back("ExitCode=" + std::to_string(result.exitCode));
    std::string out;
    for (const std::string& line : result.lines) {
        out += line + "\r\n";
    }
    streams.Out(out);
    return result.exitCode;
}
