// The process token's group membership and elevation.
#include "sim_internal.h"

#include <cstring>

namespace sim {

namespace {

struct SimSid {
    SID_IDENTIFIER_AUTHORITY authority;
    std::vector<DWORD> subAuthorities;
};

bool IsAdministrators(const SimSid& sid) {
    static const BYTE kNt[6] = {0, 0, 0, 0, 0, 5};
    return std::memcmp(sid.authority.Value, kNt, sizeof kNt) == 0 &&
           sid.subAuthorities ==
               std::vector<DWORD>{SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS};
}

BOOL Fail(DWORD error) {
    SetError(error);
    return FALSE;
}

} // namespace

void Machine::SetAdministrator(bool elevated, bool member) {
    impl_->tokenElevated = elevated;
    impl_->administratorsMember = member;
}

} // namespace sim

using namespace sim;

BOOL AllocateAndInitializeSid(PSID_IDENTIFIER_AUTHORITY pIdentifierAuthority,
                              BYTE nSubAuthorityCount, DWORD nSubAuthority0, DWORD nSubAuthority1,
                              DWORD nSubAuthority2, DWORD nSubAuthority3, DWORD nSubAuthority4,
                              DWORD nSubAuthority5, DWORD nSubAuthority6, DWORD nSubAuthority7,
                              PSID* pSid) {
    if (auto fault = Enter("AllocateAndInitializeSid", {}, nSubAuthorityCount)) {
        return Fail(*fault);
    }
    // AllocateAndInitializeSid: at most eight subauthorities.
    if (!pIdentifierAuthority || !pSid || nSubAuthorityCount > 8) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    const DWORD all[] = {nSubAuthority0, nSubAuthority1, nSubAuthority2, nSubAuthority3,
                         nSubAuthority4, nSubAuthority5, nSubAuthority6, nSubAuthority7};
    // Freed with FreeSid; a SID never freed shows as a leak in the sanitized tests.
    *pSid = new SimSid{*pIdentifierAuthority, std::vector<DWORD>(all, all + nSubAuthorityCount)};
    return TRUE;
}

PVOID FreeSid(PSID pSid) {
    Enter("FreeSid");
    delete static_cast<SimSid*>(pSid);
    return nullptr;
}

BOOL CheckTokenMembership(HANDLE TokenHandle, PSID SidToCheck, BOOL* IsMember) {
    if (auto fault = Enter("CheckTokenMembership")) {
        return Fail(*fault);
    }
    if (!SidToCheck || !IsMember) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    // CheckTokenMembership: a token given must be an impersonation token; OpenProcessToken
    // gives the primary one. Null means the caller's own (its primary token, duplicated).
    if (TokenHandle != nullptr) {
        return Fail(FindHandle(TokenHandle, HandleKind::Token) ? ERROR_NO_IMPERSONATION_TOKEN
                                                               : ERROR_INVALID_HANDLE);
    }
    *IsMember = IsAdministrators(*static_cast<SimSid*>(SidToCheck)) && State().administratorsMember;
    return TRUE;
}

BOOL GetTokenInformation(HANDLE TokenHandle, TOKEN_INFORMATION_CLASS TokenInformationClass,
                         LPVOID TokenInformation, DWORD TokenInformationLength,
                         PDWORD ReturnLength) {
    if (auto fault = Enter("GetTokenInformation", {}, static_cast<DWORD>(TokenInformationClass))) {
        return Fail(*fault);
    }
    const HandleObject* token = FindHandle(TokenHandle, HandleKind::Token);
    if (!token) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    // GetTokenInformation: "TOKEN_QUERY access is required".
    if (!(token->access & TOKEN_QUERY)) {
        return Fail(ERROR_ACCESS_DENIED);
    }
    // TokenElevation exists from Vista on; before, the class is an invalid parameter.
    if (TokenInformationClass != TokenElevation || State().major < 6 || !ReturnLength) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    *ReturnLength = sizeof(TOKEN_ELEVATION);
    if (!TokenInformation || TokenInformationLength < sizeof(TOKEN_ELEVATION)) {
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    const TOKEN_ELEVATION elevation{State().tokenElevated ? 1u : 0u};
    std::memcpy(TokenInformation, &elevation, sizeof elevation);
    return TRUE;
}
