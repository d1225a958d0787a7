// Profile file bytes (and the executable's path around MAX_PATH) -> LoadInitialSettings.
// Input: [generation][module path length][profile state][six current values][profile bytes...]
#include "fuzz_support.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <limits>
#include <string>

namespace {

const wchar_t* const kSections[] = {L"AutoDefrag", L"Index",    L"SuperFetch",
                                    L"SysMain",    L"PreFetch", L"Trim"};
const SettingId kSectionIds[] = {AutoDefrag, Index, SuperFetch, SysMain, PreFetch, Trim};

// wcstol's reading of decimal text, saturated to 32 bits; written apart from the product so the
// two can disagree.
std::int32_t ReferenceParse(const std::wstring& text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == L' ' || (text[i] >= L'\t' && text[i] <= L'\r'))) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) {
        negative = text[i] == L'-';
        ++i;
    }
    long long value = 0;
    for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
        if (value < (1LL << 40)) {
            value = value * 10 + (text[i] - L'0');
        }
    }
    value = negative ? -value : value;
    if (value > std::numeric_limits<std::int32_t>::max()) {
        return std::numeric_limits<std::int32_t>::max();
    }
    if (value < std::numeric_limits<std::int32_t>::min()) {
        return std::numeric_limits<std::int32_t>::min();
    }
    return static_cast<std::int32_t>(value);
}

// The text the product's 260-character buffer sees for one section.
std::wstring StoredText(const std::wstring& profile, const wchar_t* section) {
    WCHAR buffer[2 * MAX_PATH] = {};
    const DWORD length =
        GetPrivateProfileStringW(section, L"DefValue", L"", buffer, 2 * MAX_PATH, profile.c_str());
    std::wstring text(buffer, length);
    if (text.size() > MAX_PATH - 1) {
        text.resize(MAX_PATH - 1);
    }
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    sim::Machine& machine = fuzz::FreshMachine();
    fuzz::SetGeneration(machine, input.ConsumeIntegral<std::uint8_t>());

    // Executable paths from 250 to 265 characters: the profile path must never overrun and a
    // truncated module path must not name some other file.
    const unsigned pathLength = 250 + input.ConsumeIntegralInRange<unsigned>(0, 15);
    const std::wstring tail = L"\\Quillmarsh.exe";
    std::wstring directory = L"C:\\Apps\\";
    directory.append(pathLength - tail.size() - directory.size(), L'd');
    const std::wstring module = directory + tail;
    machine.AddDirectory(directory);
    machine.SetModulePath(module);
    const std::wstring profile = directory + L"\\Quillmarsh.ini";
    const bool profileUsable = module.size() < MAX_PATH;

    // 0: absent, 1: present, 2: present and read-only, 3: absent in a read-only folder.
    const unsigned state = input.ConsumeIntegralInRange<unsigned>(0, 3);
    // Some current values, so that a first-run file holds more than fallbacks.
    const std::int32_t start = input.ConsumeIntegral<std::int32_t>();
    machine.SetDwordValue(fuzz::kHklm + regkey::kPrefetchParameters, L"EnablePrefetcher",
                          static_cast<DWORD>(start));
    machine.SetDwordValue(fuzz::kHklm + regkey::kWSearch, L"Start", static_cast<DWORD>(start >> 8));
    const std::string bytes = input.ConsumeRemainingBytesAsString();
    if (state == 1 || state == 2) {
        machine.PutFile(profile, bytes,
                        state == 2 ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_ARCHIVE);
    }
    if (state == 3) {
        machine.SetDirectoryWritable(directory, false);
    }

    SettingsEngine engine;
    engine.DetectOsVersion();
    engine.ReadCurrentSettings();
    const SettingValues current = engine.m_nCurrent;
    engine.LoadInitialSettings();
    fuzz::CheckNothingLeftOpen(machine);
    FUZZ_CHECK(engine.m_nCurrent == current, "loading the profile changed the current values");

    if (!profileUsable) {
        FUZZ_CHECK(engine.m_nInitial == current, "no profile: the initial values are the current");
        FUZZ_CHECK(machine.CallsTo("WritePrivateProfileStringW").empty() &&
                       machine.CallsTo("GetPrivateProfileStringW").empty(),
                   "a truncated module path was used as a profile path");
        return 0;
    }
    if (state == 1 || state == 2) {
        FUZZ_CHECK(machine.FileContent(profile) == bytes, "an existing profile was rewritten");
        for (int i = 0; i < 6; ++i) {
            const std::int32_t expected = ReferenceParse(StoredText(profile, kSections[i]));
            FUZZ_CHECK(engine.m_nInitial[kSectionIds[i]] == expected,
                       "an initial value differs from its text in the profile");
        }
        return 0;
    }
    FUZZ_CHECK(engine.m_nInitial == current, "first run: the initial values are the current");
    if (state == 3) {
        FUZZ_CHECK(!machine.FileExists(profile), "a profile appeared in a read-only folder");
        return 0;
    }
    // First run: a second start must read back exactly what the first one found.
    FUZZ_CHECK(machine.FileExists(profile), "the first run wrote no profile");
    SettingsEngine second;
    second.DetectOsVersion();
    second.ReadCurrentSettings();
    second.LoadInitialSettings();
    FUZZ_CHECK(second.m_nInitial == current, "the profile does not round-trip");
    return 0;
}
