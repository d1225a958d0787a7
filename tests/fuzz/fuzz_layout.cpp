// LayoutFilePath values (lengths around MAX_PATH, missing terminators, odd types and bytes),
// the layout file's existence, attributes and content, the temporary copy (or a link planted
// under its name) and the current directory, and now and then one failing platform call ->
// ApplySettings (ProtectLayoutFile).
#include "fuzz_support.h"

#include "fw/file.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <iterator>
#include <string>
#include <vector>

namespace {

const std::wstring kPrefetchDir = L"C:\\Windows\\Prefetch";
const std::wstring kLayout = kPrefetchDir + L"\\Layout.ini";
const std::wstring kAppDir = L"C:\\Program Files\\Quillmarsh";
const std::wstring kVictim = L"C:\\Users\\me\\notes.txt";
const std::string kVictimBytes = "the user's own notes";

class Choices : public Selection {
public:
    explicit Choices(unsigned bits) : m_bits(bits) {}
    bool AutoDefragOn() const override { return (m_bits & 1u) != 0; }
    bool IndexOn() const override { return (m_bits & 2u) != 0; }
    bool SuperFetchOn() const override { return (m_bits & 4u) != 0; }
    bool PreFetchOn() const override { return (m_bits & 8u) != 0; }
    bool TrimOn() const override { return (m_bits & 16u) != 0; }

private:
    unsigned m_bits;
};

// A path to the layout file stretched to `length` characters with "x\..\" detours, so that
// lengths around MAX_PATH still name the same file.
std::wstring StretchedLayoutPath(std::size_t length) {
    std::wstring middle;
    const std::wstring head = kPrefetchDir + L"\\";
    const std::wstring name = L"Layout.ini";
    while (head.size() + middle.size() + name.size() + 5 <= length) {
        middle += L"x\\..\\";
    }
    while (head.size() + middle.size() + name.size() < length) {
        middle += L".\\";
    }
    std::wstring path = head + middle + name;
    if (path.size() > length) { // one character too many: let a doubled backslash absorb it
        path = head + middle.substr(0, middle.size() - 2) + L"\\" + name;
    }
    return path;
}

std::vector<BYTE> Utf16(const std::wstring& text) {
    std::vector<BYTE> bytes;
    for (wchar_t c : text) {
        const auto unit = static_cast<std::uint32_t>(c);
        bytes.push_back(static_cast<BYTE>(unit & 0xFFu));
        bytes.push_back(static_cast<BYTE>((unit >> 8) & 0xFFu));
    }
    return bytes;
}

struct FaultChoice {
    const char* function;
    DWORD errors[3];
};
// The calls of the layout-file step and the errors each can really return.
const FaultChoice kFaults[] = {
    {"RegOpenKeyExW", {ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED, ERROR_FILE_NOT_FOUND}},
    {"RegQueryValueExW", {ERROR_MORE_DATA, ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED}},
    {"CreateFileW", {ERROR_SHARING_VIOLATION, ERROR_ACCESS_DENIED, ERROR_FILE_NOT_FOUND}},
    {"ReadFile", {ERROR_LOCK_VIOLATION, ERROR_ACCESS_DENIED, ERROR_HANDLE_EOF}},
    {"WriteFile", {ERROR_DISK_FULL, ERROR_WRITE_PROTECT, ERROR_LOCK_VIOLATION}},
    {"CloseHandle", {ERROR_INVALID_HANDLE, ERROR_DISK_FULL, ERROR_INVALID_HANDLE}},
    {"DeleteFileW", {ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION, ERROR_FILE_NOT_FOUND}},
    {"CopyFileW", {ERROR_DISK_FULL, ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION}},
    {"GetFileAttributesW", {ERROR_ACCESS_DENIED, ERROR_FILE_NOT_FOUND, ERROR_SHARING_VIOLATION}},
    {"GetFileAttributesExW", {ERROR_ACCESS_DENIED, ERROR_FILE_NOT_FOUND, ERROR_SHARING_VIOLATION}},
    {"SetFileAttributesW", {ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION, ERROR_FILE_NOT_FOUND}},
    {"SetFileTime", {ERROR_ACCESS_DENIED, ERROR_INVALID_PARAMETER, ERROR_ACCESS_DENIED}},
    {"GetFileInformationByHandle",
     {ERROR_ACCESS_DENIED, ERROR_INVALID_HANDLE, ERROR_ACCESS_DENIED}},
    {"SetEndOfFile", {ERROR_DISK_FULL, ERROR_ACCESS_DENIED, ERROR_LOCK_VIOLATION}},
};

// What someone else left under the temporary copy's name, when it is not a copy of its own.
enum class Planted { nothing, hardLink, symbolicLink, danglingLink };

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    sim::Machine& machine = fuzz::FreshMachine();
    fuzz::SetGeneration(machine, input.ConsumeIntegral<std::uint8_t>());
    const Choices selection(input.ConsumeIntegral<std::uint8_t>());
    machine.AddDirectory(kPrefetchDir);

    // The value: which path, how long, of which type, with or without its terminator.
    const unsigned pathKind = input.ConsumeIntegralInRange<unsigned>(0, 5);
    std::wstring text;
    switch (pathKind) {
    case 0:
        text = kLayout;
        break;
    case 1:
        text = StretchedLayoutPath(255 + input.ConsumeIntegralInRange<std::size_t>(0, 8));
        break;
    case 2:
        text = L"Layout_back.ini"; // the temporary copy itself, relative
        break;
    case 3:
        text = kPrefetchDir; // a directory
        break;
    case 4:
        text = L"Layout.ini"; // relative to the current directory
        break;
    default:
        break; // raw bytes below
    }
    const unsigned valueKind = input.ConsumeIntegralInRange<unsigned>(0, 3);
    if (valueKind != 0) {
        machine.CreateKey(fuzz::kHklm + regkey::kOptimalLayout);
    }
    if (valueKind >= 2) {
        const DWORD types[] = {REG_SZ,     REG_SZ,    REG_EXPAND_SZ, REG_MULTI_SZ,
                               REG_BINARY, REG_DWORD, REG_NONE};
        const DWORD type = types[input.ConsumeIntegralInRange<unsigned>(0, 6)];
        std::vector<BYTE> bytes;
        if (pathKind == 5) {
            bytes = input.ConsumeBytes<BYTE>(input.ConsumeIntegralInRange<std::size_t>(0, 1100));
        } else {
            bytes = Utf16(text);
            const unsigned ending = input.ConsumeIntegralInRange<unsigned>(0, 3);
            if (ending != 1) {
                bytes.push_back(0); // terminator (ending 1: none)
                bytes.push_back(0);
            }
            if (ending == 2) { // something after the terminator
                const std::vector<BYTE> more =
                    input.ConsumeBytes<BYTE>(input.ConsumeIntegralInRange<std::size_t>(0, 16));
                bytes.insert(bytes.end(), more.begin(), more.end());
            }
            if (ending == 3 && !bytes.empty()) {
                bytes.pop_back(); // odd byte count
            }
        }
        machine.SetValue(fuzz::kHklm + regkey::kOptimalLayout, L"LayoutFilePath", type, bytes);
    }

    // The layout file, the temporary copy and the current directory.
    const unsigned fileBits = input.ConsumeIntegral<std::uint8_t>();
    const bool layoutExists = (fileBits & 1u) != 0;
    const DWORD attributeChoices[] = {FILE_ATTRIBUTE_ARCHIVE, FILE_ATTRIBUTE_READONLY,
                                      FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY,
                                      FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE};
    const DWORD layoutAttributes = attributeChoices[(fileBits >> 1) & 3u];
    const bool copyExists = (fileBits & 8u) != 0;
    const bool copyReadOnly = (fileBits & 16u) != 0;
    const bool cwdIsPrefetch = (fileBits & 32u) != 0;
    const bool cwdWritable = (fileBits & 64u) != 0;
    const bool layoutHeld = (fileBits & 128u) != 0 && (fileBits & 6u) == 6u;
    const std::wstring cwd = cwdIsPrefetch ? kPrefetchDir : kAppDir;
    const std::wstring copy = cwd + L"\\Layout_back.ini";
    machine.SetCurrentDirectory(cwd);

    const std::string content =
        input.ConsumeBytesAsString(input.ConsumeIntegralInRange<std::size_t>(0, 1500));
    const std::string oldCopy = "an old copy";
    if (copyExists) {
        machine.PutFile(copy, oldCopy,
                        copyReadOnly ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_ARCHIVE);
    }
    if (layoutExists) {
        machine.PutFile(kLayout, content, layoutAttributes);
        machine.HoldOpenByOtherProcess(kLayout, layoutHeld);
    }
    machine.SetDirectoryWritable(cwd, cwdWritable);

    machine.PutFile(kVictim, kVictimBytes);
    const auto planted = static_cast<Planted>(input.ConsumeIntegralInRange<unsigned>(0, 3));
    if (!copyExists && planted == Planted::hardLink) {
        machine.AddHardLink(kVictim, copy);
    } else if (!copyExists && planted == Planted::symbolicLink) {
        machine.AddSymbolicLink(copy, kVictim);
    } else if (!copyExists && planted == Planted::danglingLink) {
        machine.AddSymbolicLink(copy, kVictim + L".new");
    }
    const bool linkPlanted = !copyExists && planted != Planted::nothing;

    const FaultChoice* fault = nullptr;
    if (input.ConsumeIntegralInRange<unsigned>(0, 2) == 0) {
        fault = &kFaults[input.ConsumeIntegralInRange<std::size_t>(
            0, sizeof(kFaults) / sizeof(kFaults[0]) - 1)];
        const DWORD error = fault->errors[input.ConsumeIntegralInRange<unsigned>(0, 2)];
        const int nth = input.ConsumeIntegralInRange<int>(1, 4);
        machine.InjectFault(fault->function, error, nth);
        if (fuzz::Tracing()) {
            std::fprintf(stderr, "fault: %s #%d error %u\n", fault->function, nth,
                         static_cast<unsigned>(error));
        }
    }

    SettingsEngine engine;
    engine.DetectOsVersion();
    bool fileError = false;
    {
        CFile layoutFile;
        CFile copyFile;
        try {
            engine.ApplySettings(selection, layoutFile, copyFile);
        } catch (const CFileException&) {
            fileError = true;
        }
    }
    if (fuzz::Tracing()) {
        std::fprintf(stderr,
                     "path kind %u value kind %u layout %d attr %#x held %d copy %d ro %d "
                     "planted %u cwd %s writable %d prefetch %d file error %d\n",
                     pathKind, valueKind, layoutExists, static_cast<unsigned>(layoutAttributes),
                     layoutHeld, copyExists, copyReadOnly, static_cast<unsigned>(planted),
                     fuzz::Narrow(cwd).c_str(), cwdWritable, selection.PreFetchOn(), fileError);
        fuzz::TraceCalls(machine);
    }
    fuzz::CheckNothingLeftOpen(machine);

    // The layout file's content survives: in place, or in the copy.
    if (layoutExists) {
        const bool inPlace = machine.FileContent(kLayout) == content;
        const bool inCopy = machine.FileContent(copy) == content;
        FUZZ_CHECK(inPlace || inCopy, "the layout file's content was lost");
        // The copy is left behind only when it is the one place that still holds the content
        // (or when deleting it failed).
        if (!fileError && !copyExists && !linkPlanted && fault == nullptr) {
            FUZZ_CHECK(!machine.FileExists(copy) || !inPlace, "a needless Layout_back.ini remains");
        }
    }
    if (copyExists && !machine.FileContent(copy).has_value()) {
        // Only a writable copy may be replaced, and then the layout file holds the content.
        FUZZ_CHECK(!copyReadOnly, "a read-only Layout_back.ini was removed");
    }
    // Nothing is written through a link.
    FUZZ_CHECK(machine.FileContent(kVictim) == kVictimBytes, "a file behind a link was changed");
    FUZZ_CHECK(!machine.FileExists(kVictim + L".new"), "a file was created through a link");
    // The file error is the only way out of ApplySettings before the EnablePrefetcher write.
    if (!fileError && machine.CallsTo("RegCreateKeyExW").size() > 0) {
        const auto& creates = machine.CallsTo("RegCreateKeyExW");
        FUZZ_CHECK(creates.back().target == fuzz::kHklm + regkey::kPrefetchParameters,
                   "the EnablePrefetcher write did not come last");
    }
    return 0;
}
