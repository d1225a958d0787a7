#include "prefix_setup.h"

#include "utf8.h"

#include <sddl.h>

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <sstream>

namespace e2e {

const wchar_t* const kOptimalLayout =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\OptimalLayout";
const wchar_t* const kWSearch = L"SYSTEM\\CurrentControlSet\\Services\\WSearch";
const wchar_t* const kCisvc = L"SYSTEM\\CurrentControlSet\\Services\\cisvc";
const wchar_t* const kSysMain = L"SYSTEM\\CurrentControlSet\\Services\\SysMain";
const wchar_t* const kPrefetchParameters =
    L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Memory "
    L"Management\\PrefetchParameters";
const wchar_t* const kFileSystem = L"SYSTEM\\CurrentControlSet\\Control\\FileSystem";
const wchar_t* const kSnapshotKey = L"SOFTWARE\\Quillmarsh";
const wchar_t* const kRoot = L"C:\\qm-e2e";

namespace {

const wchar_t* const kAppDefaults = L"Software\\Wine\\AppDefaults\\";
const wchar_t* const kPrograms[] = {L"Quillmarsh.exe", L"QuillmarshCli.exe"};
const wchar_t* const kDllOverrides = L"Software\\Wine\\DllOverrides";
const wchar_t* const kBackup = L"C:\\qm-e2e-backup";
const wchar_t* const kTools[] = {L"fsutil", L"wineboot"};

const wchar_t* const kProgramKeys[] = {kOptimalLayout,      kWSearch,    kCisvc,      kSysMain,
                                       kPrefetchParameters, kFileSystem, kSnapshotKey};

// A file of the tool's stand-in beside the scenarios' folders: its log or its exit code.
std::wstring ToolFile(const wchar_t* tool, const wchar_t* extension) {
    return std::wstring(kRoot) + L"\\" + tool + extension;
}

std::wstring SystemDirectory() {
    wchar_t path[MAX_PATH] = {};
    GetSystemDirectoryW(path, MAX_PATH);
    return path;
}

std::wstring SystemFsutil() {
    return SystemDirectory() + L"\\fsutil.exe";
}

// Gives the key the DACL `sddl`, creating the key if need be.
void SetKeyDacl(const wchar_t* key, const wchar_t* sddl, REGSAM access) {
    HKEY opened = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, access, nullptr, &opened,
                        nullptr) != ERROR_SUCCESS) {
        return;
    }
    if (ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor,
                                                             nullptr)) {
        RegSetKeySecurity(opened, DACL_SECURITY_INFORMATION, descriptor);
        LocalFree(descriptor);
    }
    RegCloseKey(opened);
}

} // namespace

void ClearProgramValues() {
    for (const wchar_t* key : {kOptimalLayout, kWSearch, kCisvc, kSysMain, kSnapshotKey}) {
        // A DACL a scenario set may not allow deleting; the owner may always rewrite it.
        SetKeyDacl(key, L"D:(A;;KA;;;WD)", WRITE_DAC);
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, key);
    }
    for (const wchar_t* name : {L"EnableSuperfetch", L"EnablePrefetcher"}) {
        RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kPrefetchParameters, name);
    }
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kFileSystem, L"DisableDeleteNotification");
}

void PutDword(const wchar_t* key, const wchar_t* name, DWORD value) {
    RegSetKeyValueW(HKEY_LOCAL_MACHINE, key, name, REG_DWORD, &value, sizeof(value));
}

void RefuseValues(const wchar_t* key) {
    // Everyone: denied KEY_SET_VALUE, allowed everything else.
    SetKeyDacl(key, L"D:(D;;0x2;;;WD)(A;;KA;;;WD)", KEY_ALL_ACCESS);
}

void AllowOnlyQueryAndSetValue(const wchar_t* key) {
    // Protected, so nothing is inherited: Everyone gets KEY_QUERY_VALUE | KEY_SET_VALUE only.
    SetKeyDacl(key, L"D:P(A;;0x3;;;WD)", KEY_ALL_ACCESS);
}

void PutString(const wchar_t* key, const wchar_t* name, const std::wstring& text) {
    RegSetKeyValueW(HKEY_LOCAL_MACHINE, key, name, REG_SZ, text.c_str(),
                    static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

std::optional<DWORD> ReadDword(const wchar_t* key, const wchar_t* name) {
    DWORD type = 0;
    DWORD data = 0;
    DWORD size = sizeof(data);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, key, name, RRF_RT_ANY, &type, &data, &size) !=
            ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof(data)) {
        return std::nullopt;
    }
    return data;
}

bool ValueExists(const wchar_t* key, const wchar_t* name) {
    return RegGetValueW(HKEY_LOCAL_MACHINE, key, name, RRF_RT_ANY, nullptr, nullptr, nullptr) ==
           ERROR_SUCCESS;
}

RegSnapshot SnapshotProgramValues() {
    RegSnapshot snapshot;
    for (const wchar_t* keyName : kProgramKeys) {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyName, 0, KEY_READ, &key) != ERROR_SUCCESS) {
            continue;
        }
        for (DWORD index = 0;; ++index) {
            wchar_t name[256] = {};
            DWORD nameLength = 256;
            BYTE data[2048] = {};
            DWORD size = sizeof(data);
            DWORD type = 0;
            if (RegEnumValueW(key, index, name, &nameLength, nullptr, &type, data, &size) !=
                ERROR_SUCCESS) {
                break;
            }
            snapshot[std::wstring(keyName) + L"\\" + name] =
                RegValue{type, std::vector<BYTE>(data, data + size)};
        }
        RegCloseKey(key);
    }
    return snapshot;
}

std::string Describe(const RegSnapshot& snapshot) {
    std::ostringstream out;
    for (const auto& [name, value] : snapshot) {
        out << Narrow(name) << " type " << value.type;
        if (value.type == REG_DWORD && value.data.size() == 4) {
            DWORD data = 0;
            std::memcpy(&data, value.data.data(), 4);
            out << " = " << data;
        }
        out << '\n';
    }
    return out.str();
}

void SetWindowsVersion(const wchar_t* version) {
    for (const wchar_t* program : kPrograms) {
        const std::wstring key = kAppDefaults + std::wstring(program);
        RegSetKeyValueW(HKEY_CURRENT_USER, key.c_str(), L"Version", REG_SZ, version,
                        static_cast<DWORD>((wcslen(version) + 1) * sizeof(wchar_t)));
    }
    // Without a window manager on the X server nobody draws the caption and frame; Wine draws
    // them itself when the windows are not decorated by the X side.
    const std::wstring x11 = kAppDefaults + std::wstring(kPrograms[0]) + L"\\X11 Driver";
    RegSetKeyValueW(HKEY_CURRENT_USER, x11.c_str(), L"Decorated", REG_SZ, L"N", sizeof(L"N"));
}

void ClearWindowsVersion() {
    for (const wchar_t* program : kPrograms) {
        RegDeleteTreeW(HKEY_CURRENT_USER, (kAppDefaults + std::wstring(program)).c_str());
    }
}

std::wstring FromUnixPath(const std::string& path) {
    std::wstring windows = L"Z:";
    for (const char c : path) {
        windows += c == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(c));
    }
    return windows;
}

std::string Narrow(const std::wstring& text) {
    return Utf8(text);
}

std::wstring EnvPath(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? FromUnixPath(value) : std::wstring();
}

void RemoveTree(const std::wstring& folder) {
    WIN32_FIND_DATAW found{};
    const HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") {
                continue;
            }
            const std::wstring path = folder + L"\\" + name;
            if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
                RemoveTree(path);
            } else {
                SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(path.c_str());
            }
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(folder.c_str());
}

void ResetFolder(const std::wstring& folder) {
    RemoveTree(folder);
    CreateDirectoryW(kRoot, nullptr);
    CreateDirectoryW(folder.c_str(), nullptr);
}

bool WriteBytes(const std::wstring& path, const std::string& bytes) {
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    const BOOL ok =
        WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == bytes.size();
}

std::optional<std::string> ReadBytes(const std::wstring& path) {
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return std::nullopt;
    }
    std::string bytes;
    char chunk[4096];
    DWORD read = 0;
    while (ReadFile(file, chunk, sizeof(chunk), &read, nullptr) && read != 0) {
        bytes.append(chunk, read);
    }
    CloseHandle(file);
    return bytes;
}

bool Exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsReadOnly(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

void ToolStandIns::RestoreLeftovers() {
    if (Exists(kBackup)) {
        Restore();
    }
}

bool ToolStandIns::Install(const std::wstring& recorder, std::string& error) {
    RestoreLeftovers();
    CreateDirectoryW(kBackup, nullptr);
    for (const wchar_t* tool : kTools) {
        const std::wstring installed = SystemDirectory() + L"\\" + tool + L".exe";
        const std::wstring backup = std::wstring(kBackup) + L"\\" + tool + L".exe";
        if (!CopyFileW(installed.c_str(), backup.c_str(), FALSE)) {
            error = "cannot back up " + Narrow(installed);
            return false;
        }
        if (!CopyFileW(recorder.c_str(), installed.c_str(), FALSE)) {
            error = "cannot install the recorder as " + Narrow(installed);
            return false;
        }
    }
    UseStandIn(Tool::Fsutil, true);
    UseStandIn(Tool::Wineboot, true);
    return true;
}

void UseStandIn(Tool tool, bool standIn) {
    const std::wstring override = std::wstring(kTools[static_cast<int>(tool)]) + L".exe";
    if (standIn) {
        RegSetKeyValueW(HKEY_CURRENT_USER, kDllOverrides, override.c_str(), REG_SZ, L"native",
                        sizeof(L"native"));
    } else {
        RegDeleteKeyValueW(HKEY_CURRENT_USER, kDllOverrides, override.c_str());
    }
}

void ToolStandIns::Restore() {
    UseStandIn(Tool::Fsutil, false);
    UseStandIn(Tool::Wineboot, false);
    for (const wchar_t* tool : kTools) {
        const std::wstring installed = SystemDirectory() + L"\\" + tool + L".exe";
        const std::wstring backup = std::wstring(kBackup) + L"\\" + tool + L".exe";
        if (Exists(backup) && CopyFileW(backup.c_str(), installed.c_str(), FALSE)) {
            DeleteFileW(backup.c_str());
        }
    }
    RemoveDirectoryW(kBackup); // stays when a copy back failed, for the next run to retry
}

std::vector<std::string> ToolRuns(Tool tool) {
    const std::wstring log = ToolFile(kTools[static_cast<int>(tool)], L".log");
    std::vector<std::string> lines;
    const auto bytes = ReadBytes(log);
    if (!bytes) {
        return lines;
    }
    std::istringstream in(*bytes);
    std::string line;
    while (std::getline(in, line)) {
        lines.push_back(line);
    }
    return lines;
}

void SetToolExitCode(Tool tool, int code) {
    WriteBytes(ToolFile(kTools[static_cast<int>(tool)], L".exitcode"), std::to_string(code));
}

void MakeFsutilStoreNothing() {
    WriteBytes(ToolFile(L"fsutil", L".storesnothing"), "");
}

void TakeAwayFsutil() {
    MoveFileExW(SystemFsutil().c_str(), ToolFile(L"fsutil", L".away").c_str(),
                MOVEFILE_REPLACE_EXISTING);
}

void ClearToolRuns() {
    const std::wstring away = ToolFile(L"fsutil", L".away");
    if (Exists(away)) {
        MoveFileExW(away.c_str(), SystemFsutil().c_str(), MOVEFILE_REPLACE_EXISTING);
    }
    for (const wchar_t* tool : kTools) {
        for (const wchar_t* extension : {L".log", L".exitcode", L".storesnothing"}) {
            DeleteFileW(ToolFile(tool, extension).c_str());
        }
    }
}

} // namespace e2e
