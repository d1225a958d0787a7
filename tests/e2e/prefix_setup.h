// What the end-to-end scenarios set up in, and read back from, the Wine prefix: the registry
// values the program reads and writes, the Windows generation Wine reports to it, files, and the
// recording stand-ins for the system tools it launches.
#pragma once

#include <windows.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace e2e {

// Subkeys of HKEY_LOCAL_MACHINE the program uses.
extern const wchar_t* const kOptimalLayout;
extern const wchar_t* const kWSearch;
extern const wchar_t* const kCisvc;
extern const wchar_t* const kSysMain;
extern const wchar_t* const kPrefetchParameters;
extern const wchar_t* const kFileSystem;
// The console program's snapshot of the PC's first settings (64-bit view, as this driver's own).
extern const wchar_t* const kSnapshotKey;

// The folder under which every scenario gets a folder of its own; the tools' logs lie here.
extern const wchar_t* const kRoot;

// --- Registry

// Removes every value the programs read or write: whole keys that a fresh prefix lacks (the
// console program's snapshot included), only the programs' values in keys Wine itself uses.
void ClearProgramValues();

void PutDword(const wchar_t* key, const wchar_t* name, DWORD value);
// Create the key with a DACL that ClearProgramValues removes again: one that lets no one store a
// value in it, or one that grants only querying and storing values, as a hardened key might.
void RefuseValues(const wchar_t* key);
void AllowOnlyQueryAndSetValue(const wchar_t* key);
void PutString(const wchar_t* key, const wchar_t* name, const std::wstring& text);

// The data of a REG_DWORD value; nothing when the value is absent or of another type.
std::optional<DWORD> ReadDword(const wchar_t* key, const wchar_t* name);
bool ValueExists(const wchar_t* key, const wchar_t* name);

// Every value of the program's keys, "key\name" → type and bytes, to show that nothing changed.
struct RegValue {
    DWORD type = 0;
    std::vector<BYTE> data;
    bool operator==(const RegValue& other) const {
        return type == other.type && data == other.data;
    }
};
using RegSnapshot = std::map<std::wstring, RegValue>;
RegSnapshot SnapshotProgramValues();
std::string Describe(const RegSnapshot& snapshot);

// The Windows generation Wine reports to every Quillmarsh.exe and QuillmarshCli.exe: winxp64,
// vista, win7, win10.
void SetWindowsVersion(const wchar_t* version);
void ClearWindowsVersion();

// --- Files (Windows paths)

std::wstring FromUnixPath(const std::string& path); // /a/b → Z:\a\b
std::string Narrow(const std::wstring& text);       // for messages; paths here are ASCII
std::wstring EnvPath(const char* name);             // a Unix path from the environment, as Z:

// Empties the folder (read-only files included) or creates it.
void ResetFolder(const std::wstring& folder);
void RemoveTree(const std::wstring& folder);
bool WriteBytes(const std::wstring& path, const std::string& bytes);
std::optional<std::string> ReadBytes(const std::wstring& path);
bool Exists(const std::wstring& path);
bool IsReadOnly(const std::wstring& path);

// --- Tool stand-ins

// The recorder replaces C:\windows\system32\fsutil.exe and wineboot.exe (which ExitWindowsEx
// runs) for the suite, with DllOverrides making Wine run the replacements. A restart request
// therefore leaves a line in wineboot.log instead of ending the prefix's session (a forced one
// would end every process of the prefix, this driver included).
class ToolStandIns {
public:
    // Puts back whatever an interrupted earlier run left installed; safe to call any time.
    static void RestoreLeftovers();
    static bool Install(const std::wstring& recorder, std::string& error);
    static void Restore();
};

enum class Tool { Fsutil, Wineboot };
// Makes Wine run the installed stand-in (the default) or its own built-in tool.
void UseStandIn(Tool tool, bool standIn);
// The exit code of the tool's stand-in until ClearToolRuns; 0 before.
void SetToolExitCode(Tool tool, int code);
// Until ClearToolRuns the fsutil stand-in stores no TRIM setting (before, it stores it as the
// real tool does).
void MakeFsutilStoreNothing();
// Until ClearToolRuns there is no fsutil.exe in the system directory, as when a policy or a
// clean-up tool took it away: the program cannot start it.
void TakeAwayFsutil();
// The lines the tool's stand-in logged ("show=<n> <parameters>"); empty when it never ran.
std::vector<std::string> ToolRuns(Tool tool);
void ClearToolRuns();

} // namespace e2e
