#include "cli/command_line.h"

namespace {

bool IsBlank(wchar_t c) {
    return c == L' ' || c == L'\t';
}

// One word after the program's name, from `i` on. Backslashes count only before a quote: 2n of
// them give n and the quote opens or closes a quoted part, 2n+1 give n and a literal quote.
// Quotes in a row: every third one is a literal quote.
std::wstring NextWord(const std::wstring& line, std::size_t& i) {
    std::wstring word;
    int quotes = 0; // 1 inside a quoted part
    std::size_t backslashes = 0;
    while (i < line.size() && !(IsBlank(line[i]) && quotes == 0)) {
        const wchar_t c = line[i++];
        if (c == L'\\') {
            word += c;
            ++backslashes;
            continue;
        }
        if (c != L'"') {
            word += c;
            backslashes = 0;
            continue;
        }
        if (backslashes % 2 == 0) {
            word.erase(word.size() - backslashes / 2);
            ++quotes;
        } else {
            word.erase(word.size() - backslashes / 2 - 1);
            word += L'"';
        }
        backslashes = 0;
        for (; i < line.size() && line[i] == L'"'; ++i) {
            if (++quotes == 3) {
                word += L'"';
                quotes = 0;
            }
        }
        if (quotes == 2) {
            quotes = 0;
        }
    }
    return word;
}

std::wstring Lower(std::wstring text) {
    for (wchar_t& c : text) {
        if (c >= L'A' && c <= L'Z') {
            c = static_cast<wchar_t>(c - L'A' + L'a');
        }
    }
    return text;
}

struct SettingSwitch {
    SettingId id;
    const wchar_t* name; // lower case
};
constexpr SettingSwitch kSettingSwitches[] = {{AutoDefrag, L"autodefrag"},
                                              {Index, L"index"},
                                              {SuperFetch, L"superfetch"},
                                              {PreFetch, L"prefetch"},
                                              {Trim, L"trim"}};

ParsedCommand Bad(const std::wstring& reason) {
    return ParsedCommand{std::nullopt, reason};
}

} // namespace

std::vector<std::wstring> SplitCommandLine(const std::wstring& line) {
    std::vector<std::wstring> words;
    std::size_t i = 0;
    // The program's name has rules of its own: up to the next quote when it starts with one
    // (backslashes and doubled quotes mean nothing there), else up to the first blank.
    if (!line.empty() && line[0] == L'"') {
        const std::size_t close = line.find(L'"', 1);
        words.push_back(line.substr(1, close == std::wstring::npos ? close : close - 1));
        i = close == std::wstring::npos ? line.size() : close + 1;
    } else {
        while (i < line.size() && !IsBlank(line[i])) {
            ++i;
        }
        words.push_back(line.substr(0, i));
    }
    while (true) {
        while (i < line.size() && IsBlank(line[i])) {
            ++i;
        }
        if (i >= line.size()) {
            return words;
        }
        words.push_back(NextWord(line, i));
    }
}

ParsedCommand ParseCommand(const std::vector<std::wstring>& arguments) {
    Command command;
    bool quiet = false;
    bool restore = false;
    bool status = false;
    bool usage = false;
    bool anySetting = false;
    for (const std::wstring& argument : arguments) {
        if (argument.size() < 2 || (argument[0] != L'/' && argument[0] != L'-')) {
            return Bad(L"不明な語です: " + argument);
        }
        const std::size_t separator = argument.find_first_of(L":=", 1);
        const std::wstring name = Lower(argument.substr(1, separator - 1));
        const bool hasValue = separator != std::wstring::npos;
        const std::wstring value = hasValue ? argument.substr(separator + 1) : std::wstring();
        bool* flag = name == L"quiet"     ? &quiet
                     : name == L"restore" ? &restore
                     : name == L"status"  ? &status
                     : name == L"?"       ? &usage
                                          : nullptr;
        if (flag != nullptr) {
            if (hasValue || *flag) {
                return Bad(L"スイッチの指定が正しくありません: " + argument);
            }
            *flag = true;
            continue;
        }
        if (name == L"log") {
            if (value.empty() || command.logFile) {
                return Bad(L"/log には、ファイルを一度だけ指定してください: " + argument);
            }
            command.logFile = value;
            continue;
        }
        const SettingSwitch* setting = nullptr;
        for (const SettingSwitch& candidate : kSettingSwitches) {
            setting = name == candidate.name ? &candidate : setting;
        }
        if (setting == nullptr) {
            return Bad(L"不明なスイッチです: " + argument);
        }
        const std::wstring onOff = Lower(value);
        if (onOff != L"on" && onOff != L"off") {
            return Bad(L"設定の値は on か off で指定してください: " + argument);
        }
        if (command.settings[setting->id]) {
            return Bad(L"同じ設定が二度指定されています: " + argument);
        }
        command.settings[setting->id] = onOff == L"on";
        anySetting = true;
    }
    const int forms = (anySetting ? 1 : 0) + (restore ? 1 : 0) + (status ? 1 : 0) + (usage ? 1 : 0);
    if (forms == 0) {
        return Bad(L"変更する設定、/restore、/status または /? を指定してください。");
    }
    if (forms > 1 || (usage && (quiet || command.logFile)) || (status && quiet)) {
        return Bad(L"この組み合わせのスイッチは一緒に指定できません。");
    }
    command.form = usage     ? Command::Form::Usage
                   : status  ? Command::Form::Status
                   : restore ? Command::Form::Restore
                             : Command::Form::Settings;
    return ParsedCommand{command, {}};
}
