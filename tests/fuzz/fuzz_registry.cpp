// Registry contents (which keys and values exist, their types, sizes and data) and the reported
// Windows version -> DetectOsVersion + ReadCurrentSettings.
#include "fuzz_support.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <optional>
#include <vector>

namespace {

struct Slot {
    const wchar_t* key;
    const wchar_t* value;
};
// Every value the start-up may read; the indexing service has two keys, one per generation.
enum SlotId {
    kAutoLayout,
    kWSearchStart,
    kCisvcStart,
    kSuperfetch,
    kSysMainStart,
    kPrefetcher,
    kDeleteNotification,
    kSlotCount
};
const Slot kSlots[kSlotCount] = {
    {regkey::kOptimalLayout, L"EnableAutoLayout"},
    {regkey::kWSearch, L"Start"},
    {regkey::kCisvc, L"Start"},
    {regkey::kPrefetchParameters, L"EnableSuperfetch"},
    {regkey::kSysMain, L"Start"},
    {regkey::kPrefetchParameters, L"EnablePrefetcher"},
    {regkey::kFileSystem, L"DisableDeleteNotification"},
};

const DWORD kTypes[] = {REG_DWORD,
                        REG_DWORD,
                        REG_DWORD,
                        REG_SZ,
                        REG_BINARY,
                        REG_QWORD,
                        5u /* REG_DWORD_BIG_ENDIAN */,
                        REG_NONE,
                        REG_EXPAND_SZ,
                        REG_MULTI_SZ};

// What a 4-byte REG_DWORD read makes of the stored value: its data (shorter data zero-extended),
// or nothing for a missing value, another type or data longer than four bytes.
std::optional<std::int32_t> Readable(const std::optional<sim::RegValue>& value) {
    if (!value || value->type != REG_DWORD || value->data.size() > 4) {
        return std::nullopt;
    }
    std::uint32_t data = 0;
    for (std::size_t i = 0; i < value->data.size(); ++i) {
        data |= static_cast<std::uint32_t>(value->data[i]) << (8 * i);
    }
    return static_cast<std::int32_t>(data);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    sim::Machine& machine = fuzz::FreshMachine();

    const DWORD majors[] = {4, 5, 6, 6, 6, 10};
    const DWORD major = majors[input.ConsumeIntegralInRange<unsigned>(0, 5)];
    const DWORD minor = input.ConsumeIntegralInRange<DWORD>(0, 3);
    const bool nt = input.ConsumeIntegralInRange<unsigned>(0, 7) != 0;
    machine.SetVersion(major, minor, nt ? VER_PLATFORM_WIN32_NT : 1);
    const bool versionFails = input.ConsumeIntegralInRange<unsigned>(0, 15) == 0;
    if (versionFails) {
        machine.InjectFault("GetVersionExW", ERROR_INVALID_PARAMETER, 1);
    }

    for (const Slot& slot : kSlots) {
        const std::wstring key = fuzz::kHklm + slot.key;
        switch (input.ConsumeIntegralInRange<unsigned>(0, 3)) {
        case 0:
            break; // neither key nor value (unless another slot makes the key)
        case 1:
            machine.CreateKey(key);
            break;
        default: {
            const DWORD type = input.ConsumeBool()
                                   ? kTypes[input.ConsumeIntegralInRange<unsigned>(0, 9)]
                                   : input.ConsumeIntegral<std::uint8_t>();
            const std::size_t length = input.ConsumeIntegralInRange<std::size_t>(0, 12);
            machine.SetValue(key, slot.value, type, input.ConsumeBytes<BYTE>(length));
            break;
        }
        }
    }
    // Sometimes one read fails as Windows lets it: a key we may not open, a vanished value, a
    // value that grew between the calls.
    bool faulted = false;
    if (input.ConsumeIntegralInRange<unsigned>(0, 3) == 0) {
        const DWORD errors[] = {ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED, ERROR_MORE_DATA};
        const DWORD error = errors[input.ConsumeIntegralInRange<unsigned>(0, 2)];
        const int nth = input.ConsumeIntegralInRange<int>(1, 6);
        machine.InjectFault(input.ConsumeBool() ? "RegOpenKeyExW" : "RegQueryValueExW", error, nth);
        faulted = true;
    }

    std::vector<std::optional<sim::RegValue>> before;
    for (const Slot& slot : kSlots) {
        before.push_back(machine.Value(fuzz::kHklm + slot.key, slot.value));
    }

    SettingsEngine engine;
    engine.DetectOsVersion();
    engine.ReadCurrentSettings();
    fuzz::CheckNothingLeftOpen(machine);

    const bool win7 = !versionFails && nt && major == 6 && minor >= 1;
    const bool vista = !versionFails && nt && major == 6 && minor == 0;
    FUZZ_CHECK(engine.m_bWin7 == (win7 ? 1 : 0) && engine.m_bVista == (vista ? 1 : 0),
               "wrong generation");
    const bool nt6 = win7 || vista;

    // Reading never writes.
    FUZZ_CHECK(machine.CallsTo("RegCreateKeyExW").empty() &&
                   machine.CallsTo("RegSetValueExW").empty(),
               "reading the settings wrote to the registry");
    for (const sim::CallRecord& call : machine.CallsTo("RegOpenKeyExW")) {
        FUZZ_CHECK(call.detail == KEY_QUERY_VALUE, "a key was opened for more than querying");
    }
    for (int i = 0; i < kSlotCount; ++i) {
        const auto after = machine.Value(fuzz::kHklm + kSlots[i].key, kSlots[i].value);
        FUZZ_CHECK(
            after.has_value() == before[i].has_value() &&
                (!after || (after->type == before[i]->type && after->data == before[i]->data)),
            "a registry value changed");
    }

    // Every value defined: -1 only for SysMain before NT 6, and there always.
    for (int id = 0; id < kSettingCount; ++id) {
        if (id == SysMain && !nt6) {
            FUZZ_CHECK(engine.m_nCurrent[id] == -1, "SysMain must be -1 before NT 6");
        } else {
            FUZZ_CHECK(engine.m_nCurrent[id] != -1, "a setting was left undefined");
        }
    }

    // Each value is what the registry holds, or the fallback; with a failed read it may be the
    // fallback even where the registry holds a value.
    const auto expect = [&](SettingId id, SlotId slot, std::int32_t fallback) {
        const std::optional<std::int32_t> stored = Readable(before[slot]);
        const std::int32_t wanted = stored && *stored != -1 ? *stored : fallback;
        const std::int32_t got = engine.m_nCurrent[id];
        FUZZ_CHECK(got == wanted || (faulted && got == fallback), "a setting was misread");
    };
    expect(AutoDefrag, kAutoLayout, nt6 ? 0 : 1);
    expect(Index, nt6 ? kWSearchStart : kCisvcStart, 2);
    if (nt6) {
        expect(SuperFetch, kSuperfetch, 3);
        expect(SysMain, kSysMainStart, 2);
    } else {
        FUZZ_CHECK(engine.m_nCurrent[SuperFetch] == 0, "SuperFetch must be 0 before NT 6");
    }
    expect(PreFetch, kPrefetcher, 3);
    if (win7) {
        expect(Trim, kDeleteNotification, 1);
    } else {
        FUZZ_CHECK(engine.m_nCurrent[Trim] == 1, "TRIM is off before Windows 7");
    }

    // Keys of settings that do not exist on this generation are never opened.
    for (const sim::CallRecord& call : machine.CallsTo("RegOpenKeyExW")) {
        FUZZ_CHECK(nt6 || (call.target != fuzz::kHklm + regkey::kSysMain &&
                           call.target != fuzz::kHklm + regkey::kWSearch),
                   "an NT 6 key was opened on an older system");
        FUZZ_CHECK(win7 || call.target != fuzz::kHklm + regkey::kFileSystem,
                   "the FileSystem key was opened before Windows 7");
    }
    return 0;
}
