// DLL loading: the loader's search order, the search lock, and the few exports the program asks
// for by name.
#include "sim_internal.h"

namespace sim {

namespace {

const std::wstring kSystemDirectory = L"C:\\Windows\\system32";
const HMODULE kKernel32 = reinterpret_cast<HMODULE>(static_cast<std::uintptr_t>(0x7B600000u));

HMODULE FailModule(DWORD error) {
    SetError(error);
    return nullptr;
}

// A module handle stands for the index of the file it was loaded from.
HMODULE ModuleFor(const SimFile& file) {
    return reinterpret_cast<HMODULE>(static_cast<std::uintptr_t>(0x10000000u + file.index));
}

// The path of the file a module was loaded from; empty for a handle no load gave out.
std::wstring ModulePath(HMODULE module) {
    for (const auto& [key, file] : State().files) {
        if (ModuleFor(*file) == module) {
            return file->path;
        }
    }
    return {};
}

// The folders a bare name is looked for in, in Windows' order for a process that changed
// nothing: the program's folder, the system directory, the current directory (after
// SetDllDirectoryW(L"") the current directory is left out).
std::vector<std::wstring> SearchFolders(DWORD flags) {
    const auto& s = State();
    if ((flags & LOAD_LIBRARY_SEARCH_SYSTEM32) != 0 || s.searchLocked) {
        return {kSystemDirectory};
    }
    std::vector<std::wstring> folders = {
        ParentPath(NormalizePath(s.modulePath, s.currentDirectory)), kSystemDirectory};
    if (!s.currentDirectoryOutOfSearch) {
        folders.push_back(s.currentDirectory);
    }
    return folders;
}

std::wstring FindLibrary(const std::wstring& name, DWORD flags) {
    const auto& s = State();
    if (name.find_first_of(L"\\/") != std::wstring::npos) {
        const std::wstring path = NormalizePath(name, s.currentDirectory);
        return FindFile(s, path) ? path : std::wstring();
    }
    for (const std::wstring& folder : SearchFolders(flags)) {
        const std::wstring path = NormalizePath(folder + L"\\" + name, s.currentDirectory);
        if (FindFile(s, path)) {
            return path;
        }
    }
    return {};
}

HMODULE Load(const char* function, LPCWSTR lpLibFileName, DWORD flags) {
    const std::wstring name = Str(lpLibFileName);
    const std::wstring path = name.empty() ? std::wstring() : FindLibrary(name, flags);
    if (auto fault = Enter(function, path.empty() ? name : path, flags)) {
        return FailModule(*fault);
    }
    if ((flags & ~LOAD_LIBRARY_SEARCH_SYSTEM32) != 0 ||
        ((flags & LOAD_LIBRARY_SEARCH_SYSTEM32) != 0 && !TheMachine().dllDirectoriesAvailable)) {
        return FailModule(ERROR_INVALID_PARAMETER);
    }
    if (path.empty()) {
        return FailModule(ERROR_MOD_NOT_FOUND);
    }
    TheMachine().loadedLibraries.push_back(path);
    return ModuleFor(*FindFile(State(), path));
}

} // namespace

// Windows' own DLLs load their helpers by bare name at run time, through the process's search
// order: a DLL planted in the program's folder is taken unless the search was locked first
// (LoadLibraryW: "Dynamic-Link Library Search Order").
void LoadHelperLibrary(const std::wstring& name) {
    const std::wstring path = FindLibrary(name, 0);
    if (!path.empty()) {
        TheMachine().loadedLibraries.push_back(path);
    }
}

} // namespace sim

using namespace sim;

HMODULE GetModuleHandleW(LPCWSTR lpModuleName) {
    const std::wstring name = Str(lpModuleName);
    if (auto fault = Enter("GetModuleHandleW", name)) {
        return FailModule(*fault);
    }
    return IEquals(name, L"kernel32.dll") ? kKernel32 : FailModule(ERROR_MOD_NOT_FOUND);
}

HMODULE LoadLibraryW(LPCWSTR lpLibFileName) {
    return Load("LoadLibraryW", lpLibFileName, 0);
}

HMODULE LoadLibraryExW(LPCWSTR lpLibFileName, HANDLE hFile, DWORD dwFlags) {
    if (hFile != nullptr) {
        return FailModule(ERROR_INVALID_PARAMETER);
    }
    return Load("LoadLibraryExW", lpLibFileName, dwFlags);
}

FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
    const std::string procedure = lpProcName != nullptr ? lpProcName : "";
    if (auto fault = Enter("GetProcAddress", std::wstring(procedure.begin(), procedure.end()))) {
        SetError(*fault);
        return nullptr;
    }
    if (hModule == kKernel32 && procedure == "SetDefaultDllDirectories" &&
        TheMachine().dllDirectoriesAvailable) {
        return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&SetDefaultDllDirectories));
    }
    if (IEquals(ModulePath(hModule), kSystemDirectory + L"\\shell32.dll") &&
        procedure == "ShellExecuteExW") {
        return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&ShellExecuteExW));
    }
    SetError(ERROR_PROC_NOT_FOUND);
    return nullptr;
}

BOOL SetDefaultDllDirectories(DWORD DirectoryFlags) {
    if (auto fault = Enter("SetDefaultDllDirectories", {}, DirectoryFlags)) {
        SetError(*fault);
        return FALSE;
    }
    if (DirectoryFlags != LOAD_LIBRARY_SEARCH_SYSTEM32) {
        SetError(ERROR_INVALID_PARAMETER); // the only one this machine knows
        return FALSE;
    }
    State().searchLocked = true;
    return TRUE;
}

BOOL SetDllDirectoryW(LPCWSTR lpPathName) {
    if (auto fault = Enter("SetDllDirectoryW", Str(lpPathName))) {
        SetError(*fault);
        return FALSE;
    }
    if (lpPathName == nullptr || *lpPathName != L'\0') {
        SetError(ERROR_INVALID_PARAMETER); // only the empty string is modelled
        return FALSE;
    }
    State().currentDirectoryOutOfSearch = true;
    return TRUE;
}
