// Registry functions over the machine's in-memory key tree.
//
// String values are kept as UTF-16LE bytes, as Windows stores them. The caller's buffer holds
// WCHARs, which are 4 bytes on the host, so for string types the caller's byte counts are read
// and reported in WCHAR units (cbData / sizeof(WCHAR) characters); that keeps a WCHAR[N] buffer
// exactly N characters large on both platforms. Other types are plain bytes.
#include "sim_internal.h"

#include <cstring>

namespace sim {

namespace {

std::wstring RootName(HKEY h) {
    if (h == HKEY_LOCAL_MACHINE) {
        return L"HKLM";
    }
    if (h == HKEY_CURRENT_USER) {
        return L"HKCU";
    }
    if (h == HKEY_CLASSES_ROOT) {
        return L"HKCR";
    }
    return {};
}

std::optional<KeyHandle> FromHandle(HKEY h) {
    if (auto root = RootName(h); !root.empty()) {
        return KeyHandle{root, KEY_ALL_ACCESS};
    }
    const auto& handles = State().keyHandles;
    auto it = handles.find(reinterpret_cast<std::uintptr_t>(h));
    if (it == handles.end()) {
        return std::nullopt;
    }
    return it->second;
}

std::wstring JoinKey(const std::wstring& base, LPCWSTR sub) {
    std::wstring s = Str(sub);
    return s.empty() ? base : base + L"\\" + s;
}

RegKey* FindKey(Machine::Impl& s, const std::wstring& path) {
    auto& keys = s.keys;
    auto it = keys.find(Upper(CanonicalKeyPath(path)));
    return it == keys.end() ? nullptr : &it->second;
}

RegKey& CreateKeyPath(Machine::Impl& s, const std::wstring& path) {
    const std::wstring canonical = CanonicalKeyPath(path);
    auto& keys = s.keys;
    std::size_t pos = 0;
    RegKey* key = nullptr;
    while (true) {
        std::size_t next = canonical.find(L'\\', pos);
        std::wstring prefix = canonical.substr(0, next);
        auto [it, added] = keys.try_emplace(Upper(prefix));
        if (added) {
            it->second.path = prefix;
            if (key) {
                it->second.granted = key->granted; // a new key inherits its parent's rules
            }
        }
        key = &it->second;
        if (next == std::wstring::npos) {
            break;
        }
        pos = next + 1;
    }
    return *key;
}

HKEY NewKeyHandle(const std::wstring& path, REGSAM access) {
    auto& s = State();
    const std::uintptr_t value = s.NewHandleValue();
    s.keyHandles[value] = KeyHandle{path, access};
    return reinterpret_cast<HKEY>(value);
}

// The nearest existing key on the way to `path` (at least the root).
const RegKey* NearestKey(Machine::Impl& s, const std::wstring& path) {
    std::wstring canonical = CanonicalKeyPath(path);
    while (true) {
        if (const RegKey* key = FindKey(s, canonical)) {
            return key;
        }
        const std::size_t slash = canonical.rfind(L'\\');
        if (slash == std::wstring::npos) {
            return nullptr;
        }
        canonical.erase(slash);
    }
}

// The rights a request stands for: the WOW64 view flags select a view and are no rights. Generic
// rights are not mapped, so asking for them is refused (the stricter reading).
REGSAM RightsAsked(REGSAM requested) {
    return requested & ~(KEY_WOW64_64KEY | KEY_WOW64_32KEY);
}

// Opening a key checks every requested right against the key's DACL ("Registry Key Security
// and Access Rights": the requested access is checked against the security descriptor).
bool Grants(const RegKey& key, REGSAM requested) {
    return (RightsAsked(requested) & ~key.granted) == 0;
}

bool IsStringType(DWORD type) {
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

} // namespace

std::wstring CanonicalKeyPath(std::wstring_view path) {
    std::wstring out;
    std::size_t pos = 0;
    while (pos <= path.size()) {
        std::size_t next = path.find(L'\\', pos);
        if (next == std::wstring_view::npos) {
            next = path.size();
        }
        std::wstring part(path.substr(pos, next - pos));
        if (!part.empty()) {
            if (out.empty() && IEquals(part, L"HKEY_LOCAL_MACHINE")) {
                part = L"HKLM";
            } else if (out.empty() && IEquals(part, L"HKEY_CURRENT_USER")) {
                part = L"HKCU";
            } else if (out.empty() && IEquals(part, L"HKEY_CLASSES_ROOT")) {
                part = L"HKCR";
            }
            out += out.empty() ? part : L"\\" + part;
        }
        pos = next + 1;
    }
    return out;
}

void Machine::CreateKey(const std::wstring& keyPath) {
    CreateKeyPath(*impl_, keyPath);
}

void Machine::SetKeyRights(const std::wstring& keyPath, REGSAM granted) {
    CreateKeyPath(*impl_, keyPath).granted = granted;
}

void Machine::SetValue(const std::wstring& keyPath, const std::wstring& name, DWORD type,
                       std::vector<BYTE> data) {
    CreateKeyPath(*impl_, keyPath).values[Upper(name)] = {name, RegValue{type, std::move(data)}};
}

void Machine::SetDwordValue(const std::wstring& keyPath, const std::wstring& name, DWORD value) {
    std::vector<BYTE> data(sizeof value);
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<BYTE>(value >> (8 * i));
    }
    SetValue(keyPath, name, REG_DWORD, std::move(data));
}

void Machine::SetStringValue(const std::wstring& keyPath, const std::wstring& name,
                             const std::wstring& text) {
    SetValue(keyPath, name, REG_SZ, Utf16Bytes(text, true));
}

bool Machine::HasKey(const std::wstring& keyPath) const {
    return FindKey(*impl_, keyPath) != nullptr;
}

std::optional<RegValue> Machine::Value(const std::wstring& keyPath,
                                       const std::wstring& name) const {
    const RegKey* key = FindKey(*impl_, keyPath);
    if (!key) {
        return std::nullopt;
    }
    auto it = key->values.find(Upper(name));
    if (it == key->values.end()) {
        return std::nullopt;
    }
    return it->second.second;
}

std::optional<DWORD> Machine::DwordValue(const std::wstring& keyPath,
                                         const std::wstring& name) const {
    auto v = Value(keyPath, name);
    if (!v || v->type != REG_DWORD || v->data.size() != sizeof(DWORD)) {
        return std::nullopt;
    }
    DWORD out = 0;
    for (std::size_t i = 0; i < sizeof out; ++i) {
        out |= static_cast<DWORD>(v->data[i]) << (8 * i);
    }
    return out;
}

int Machine::OpenKeyCount() const {
    return static_cast<int>(impl_->keyHandles.size());
}

int Machine::FlushCount(const std::wstring& keyPath) const {
    const RegKey* key = FindKey(*impl_, keyPath);
    return key ? key->flushes : 0;
}

} // namespace sim

using namespace sim;

namespace {

// What opening and creating a key share: the log entry, an injected fault, the out-parameter
// cleared, and the checks of the parameters and of the parent handle. ERROR_SUCCESS to go on.
LSTATUS BeginKeyOpen(const char* function, HKEY hKey, LPCWSTR lpSubKey, REGSAM samDesired,
                     PHKEY phkResult, std::optional<KeyHandle>& base, std::wstring& path) {
    base = FromHandle(hKey);
    path = base ? JoinKey(base->path, lpSubKey) : Str(lpSubKey);
    auto fault = Enter(function, path, samDesired);
    if (phkResult) {
        *phkResult = nullptr;
    }
    if (fault) {
        return static_cast<LSTATUS>(*fault);
    }
    if (!phkResult) {
        return ERROR_INVALID_PARAMETER;
    }
    return base ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

} // namespace

LSTATUS RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD /*ulOptions*/, REGSAM samDesired,
                      PHKEY phkResult) {
    std::optional<KeyHandle> base;
    std::wstring path;
    const LSTATUS status =
        BeginKeyOpen("RegOpenKeyExW", hKey, lpSubKey, samDesired, phkResult, base, path);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    const RegKey* key = FindKey(State(), path);
    if (!key) {
        return ERROR_FILE_NOT_FOUND;
    }
    if (!Grants(*key, samDesired)) {
        return ERROR_ACCESS_DENIED;
    }
    *phkResult = NewKeyHandle(path, RightsAsked(samDesired));
    return ERROR_SUCCESS;
}

LSTATUS RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD /*Reserved*/, LPWSTR /*lpClass*/,
                        DWORD /*dwOptions*/, REGSAM samDesired,
                        const SECURITY_ATTRIBUTES* /*lpSecurityAttributes*/, PHKEY phkResult,
                        LPDWORD lpdwDisposition) {
    std::optional<KeyHandle> base;
    std::wstring path;
    const LSTATUS status =
        BeginKeyOpen("RegCreateKeyExW", hKey, lpSubKey, samDesired, phkResult, base, path);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    const RegKey* existing = FindKey(State(), path);
    if (existing && !Grants(*existing, samDesired)) {
        return ERROR_ACCESS_DENIED;
    }
    if (!existing) {
        // A missing key is made under the nearest one that exists, which must allow creating
        // subkeys ("Registry Key Security and Access Rights": KEY_CREATE_SUB_KEY is required to
        // create a subkey); the new keys inherit its rules, which must then allow what is asked.
        const RegKey* parent = NearestKey(State(), path);
        if (!parent || !(parent->granted & KEY_CREATE_SUB_KEY) || !Grants(*parent, samDesired)) {
            return ERROR_ACCESS_DENIED;
        }
        CreateKeyPath(State(), path);
    }
    if (lpdwDisposition) {
        *lpdwDisposition = existing ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
    }
    *phkResult = NewKeyHandle(path, RightsAsked(samDesired));
    return ERROR_SUCCESS;
}

LSTATUS RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                         LPBYTE lpData, LPDWORD lpcbData) {
    auto base = FromHandle(hKey);
    auto fault = Enter("RegQueryValueExW", base ? base->path : std::wstring());
    if (fault) {
        return static_cast<LSTATUS>(*fault);
    }
    if (!base) {
        return ERROR_INVALID_HANDLE;
    }
    if (lpReserved || (lpData && !lpcbData)) {
        return ERROR_INVALID_PARAMETER;
    }
    if (!(base->access & KEY_QUERY_VALUE)) {
        return ERROR_ACCESS_DENIED; // RegQueryValueExW: opened with KEY_QUERY_VALUE
    }
    const RegKey* key = FindKey(State(), base->path);
    auto it = key->values.find(Upper(Str(lpValueName)));
    if (it == key->values.end()) {
        return ERROR_FILE_NOT_FOUND;
    }
    const RegValue& value = it->second.second;
    if (lpType) {
        *lpType = value.type;
    }
    if (!lpcbData) {
        return ERROR_SUCCESS;
    }
    if (IsStringType(value.type)) {
        const std::size_t units = (value.data.size() + 1) / 2;
        const auto needed = static_cast<DWORD>(units * sizeof(WCHAR));
        if (!lpData) {
            *lpcbData = needed;
            return ERROR_SUCCESS;
        }
        if (*lpcbData / sizeof(WCHAR) < units) {
            *lpcbData = needed;
            return ERROR_MORE_DATA;
        }
        for (std::size_t i = 0; i < units; ++i) {
            const unsigned lo = value.data[2 * i];
            const unsigned hi = 2 * i + 1 < value.data.size() ? value.data[2 * i + 1] : 0u;
            const auto c = static_cast<WCHAR>(lo | (hi << 8));
            std::memcpy(lpData + i * sizeof(WCHAR), &c, sizeof c);
        }
        *lpcbData = needed;
        return ERROR_SUCCESS;
    }
    const auto needed = static_cast<DWORD>(value.data.size());
    if (!lpData) {
        *lpcbData = needed;
        return ERROR_SUCCESS;
    }
    if (*lpcbData < needed) {
        *lpcbData = needed;
        return ERROR_MORE_DATA;
    }
    if (needed > 0) {
        std::memcpy(lpData, value.data.data(), needed);
    }
    *lpcbData = needed;
    return ERROR_SUCCESS;
}

LSTATUS RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD /*Reserved*/, DWORD dwType,
                       const BYTE* lpData, DWORD cbData) {
    auto base = FromHandle(hKey);
    auto fault = Enter("RegSetValueExW", base ? base->path : std::wstring(), dwType);
    if (fault) {
        return static_cast<LSTATUS>(*fault);
    }
    if (!base) {
        return ERROR_INVALID_HANDLE;
    }
    if (!(base->access & KEY_SET_VALUE)) {
        return ERROR_ACCESS_DENIED; // RegSetValueExW: opened with KEY_SET_VALUE
    }
    if (!lpData && cbData > 0) {
        return ERROR_INVALID_PARAMETER;
    }
    std::vector<BYTE> bytes;
    if (IsStringType(dwType)) {
        std::wstring text(cbData / sizeof(WCHAR), L'\0');
        for (std::size_t i = 0; i < text.size(); ++i) {
            std::memcpy(&text[i], lpData + i * sizeof(WCHAR), sizeof(WCHAR));
        }
        bytes = Utf16Bytes(text, false);
    } else if (cbData > 0) {
        bytes.assign(lpData, lpData + cbData);
    }
    TheMachine().SetValue(base->path, Str(lpValueName), dwType, std::move(bytes));
    return ERROR_SUCCESS;
}

LSTATUS RegFlushKey(HKEY hKey) {
    auto base = FromHandle(hKey);
    auto fault = Enter("RegFlushKey", base ? base->path : std::wstring());
    if (fault) {
        return static_cast<LSTATUS>(*fault);
    }
    if (!base) {
        return ERROR_INVALID_HANDLE;
    }
    // RegFlushKey: "The key must have been opened with the KEY_QUERY_VALUE access right."
    if (!(base->access & KEY_QUERY_VALUE)) {
        return ERROR_ACCESS_DENIED;
    }
    FindKey(State(), base->path)->flushes++;
    return ERROR_SUCCESS;
}

LSTATUS RegCloseKey(HKEY hKey) {
    auto base = FromHandle(hKey);
    auto fault = Enter("RegCloseKey", base ? base->path : std::wstring());
    if (!base) {
        return fault ? static_cast<LSTATUS>(*fault) : ERROR_INVALID_HANDLE;
    }
    // Released even when faulted: a failed close leaves nothing to close again. Closing a
    // predefined key is allowed and changes nothing.
    State().keyHandles.erase(reinterpret_cast<std::uintptr_t>(hKey));
    return fault ? static_cast<LSTATUS>(*fault) : ERROR_SUCCESS;
}
