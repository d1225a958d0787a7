#include "cli/std_streams.h"

#include "platform/win32.h"

namespace {

void WriteBytes(HANDLE handle, const char* data, DWORD size) {
    DWORD written = 0;
    WriteFile(handle, data, size, &written, nullptr);
}

} // namespace

void StdStreams::Out(const std::string& ascii) {
    WriteBytes(GetStdHandle(STD_OUTPUT_HANDLE), ascii.data(), static_cast<DWORD>(ascii.size()));
}

void StdStreams::Err(const std::wstring& text) {
    const HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
        return;
    }
    DWORD mode = 0;
    if (GetConsoleMode(handle, &mode)) {
        DWORD written = 0;
        WriteConsoleW(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        return;
    }
    // Without a console of its own (a detached start), the OEM code page the console would have.
    UINT codePage = GetConsoleOutputCP();
    if (codePage == 0) {
        codePage = CP_OEMCP;
    }
    const int size = WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    if (size <= 0) {
        return;
    }
    std::string bytes(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), &bytes[0], size,
                        nullptr, nullptr);
    WriteBytes(handle, bytes.data(), static_cast<DWORD>(bytes.size()));
}
