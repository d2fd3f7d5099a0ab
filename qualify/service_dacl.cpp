#include "service_dacl.h"

#include <string.h>
#include <strsafe.h>

#include <algorithm>

namespace qebcheck {

namespace {

const DWORD kUserDefinedControl = 0x0100;  // SERVICE_USER_DEFINED_CONTROL
const DWORD kGrantingMask = kUserDefinedControl | GENERIC_EXECUTE | GENERIC_ALL;
const wchar_t kSystemSid[] = L"S-1-5-18";
const wchar_t kAdministratorsSid[] = L"S-1-5-32-544";

DWORD ReadDword(const BYTE* p) {
    DWORD value;
    memcpy(&value, p, sizeof(value));
    return value;
}

WORD ReadWord(const BYTE* p) {
    WORD value;
    memcpy(&value, p, sizeof(value));
    return value;
}

// "S-1-5-32-544" from the SID at p, of at most `room` bytes; false when it
// does not fit.
bool SidText(const BYTE* p, size_t room, std::wstring* text) {
    if (room < 8) return false;
    const unsigned count = p[1];
    if (p[0] != 1 || room < 8 + 4 * static_cast<size_t>(count)) return false;
    unsigned long long authority = 0;
    for (int i = 2; i < 8; ++i) authority = (authority << 8) | p[i];
    wchar_t part[32];
    StringCchPrintfW(part, 32, L"S-1-%I64u", authority);
    *text = part;
    for (unsigned i = 0; i < count; ++i) {
        StringCchPrintfW(part, 32, L"-%lu", static_cast<unsigned long>(ReadDword(p + 8 + 4 * i)));
        *text += part;
    }
    return true;
}

ControlRights Unreadable(const wchar_t* problem) {
    ControlRights rights;
    rights.problem = problem;
    return rights;
}

}  // namespace

ControlRights ReadControlRights(const BYTE* descriptor, size_t size) {
    // SECURITY_DESCRIPTOR_RELATIVE: revision, padding, control, then the
    // offsets of owner, group, SACL and DACL.
    if (descriptor == nullptr || size < 20) return Unreadable(L"security descriptor too short");
    if (descriptor[0] != SECURITY_DESCRIPTOR_REVISION) return Unreadable(L"unknown security descriptor revision");
    const WORD control = ReadWord(descriptor + 2);
    if ((control & SE_SELF_RELATIVE) == 0) return Unreadable(L"security descriptor not self-relative");
    ControlRights rights;
    const DWORD daclOffset = ReadDword(descriptor + 16);
    if ((control & SE_DACL_PRESENT) == 0 || daclOffset == 0) {
        rights.parsed = true;
        rights.nullDacl = true;
        return rights;
    }
    if (daclOffset > size || size - daclOffset < 8) return Unreadable(L"DACL outside the security descriptor");
    const BYTE* acl = descriptor + daclOffset;
    const size_t aclSize = ReadWord(acl + 2);
    const unsigned aceCount = ReadWord(acl + 4);
    if (aclSize < 8 || aclSize > size - daclOffset) return Unreadable(L"DACL size outside the security descriptor");

    std::vector<std::wstring> decided;
    size_t offset = 8;
    for (unsigned i = 0; i < aceCount; ++i) {
        if (aclSize - offset < 4) return Unreadable(L"ACE outside the DACL");
        const BYTE* ace = acl + offset;
        const BYTE type = ace[0];
        const BYTE flags = ace[1];
        const size_t aceSize = ReadWord(ace + 2);
        if (aceSize < 4 || aceSize > aclSize - offset) return Unreadable(L"ACE size outside the DACL");
        offset += aceSize;
        if (type != ACCESS_ALLOWED_ACE_TYPE && type != ACCESS_DENIED_ACE_TYPE) continue;
        if (aceSize < 8) return Unreadable(L"ACE too short for its mask");
        std::wstring sid;
        if (!SidText(ace + 8, aceSize - 8, &sid)) return Unreadable(L"ACE with a malformed SID");
        if ((flags & INHERIT_ONLY_ACE) != 0 || (ReadDword(ace + 4) & kGrantingMask) == 0) continue;
        if (std::find(decided.begin(), decided.end(), sid) != decided.end()) continue;
        decided.push_back(sid);
        if (type == ACCESS_ALLOWED_ACE_TYPE) rights.granted.push_back(sid);
    }
    rights.parsed = true;
    rights.aceCount = aceCount;
    return rights;
}

std::wstring SidDisplayName(const std::wstring& sid) {
    static const struct {
        const wchar_t* sid;
        const wchar_t* name;
    } kNames[] = {
        {L"S-1-1-0", L"Everyone"},          {L"S-1-5-4", L"INTERACTIVE"},
        {L"S-1-5-6", L"SERVICE"},           {L"S-1-5-11", L"Authenticated Users"},
        {L"S-1-5-18", L"SYSTEM"},           {L"S-1-5-19", L"LOCAL SERVICE"},
        {L"S-1-5-20", L"NETWORK SERVICE"},  {L"S-1-5-32-544", L"Administrators"},
        {L"S-1-5-32-545", L"Users"},        {L"S-1-5-32-547", L"Power Users"},
    };
    for (const auto& known : kNames)
        if (sid == known.sid) return known.name;
    return sid;
}

Outcome JudgeControlRights(const ControlRights& rights, std::wstring* seen) {
    const std::wstring expected = L"expected controls 128 to 133 for SYSTEM and Administrators only, got ";
    if (!rights.parsed) {
        *seen = expected + L"an unreadable DACL (" + rights.problem + L")";
        return Outcome::Fail;
    }
    if (rights.nullDacl) {
        *seen = expected + L"no DACL: everyone may send them";
        return Outcome::Fail;
    }
    if (rights.granted.empty()) {
        *seen = expected + L"nobody (" + std::to_wstring(rights.aceCount) + L" ACEs, none grants them)";
        return Outcome::Fail;
    }
    std::wstring names;
    for (const auto& sid : rights.granted) names += (names.empty() ? L"" : L", ") + SidDisplayName(sid);
    const bool onlyTheTwo =
        rights.granted.size() == 2 &&
        std::find(rights.granted.begin(), rights.granted.end(), kSystemSid) != rights.granted.end() &&
        std::find(rights.granted.begin(), rights.granted.end(), kAdministratorsSid) != rights.granted.end();
    if (!onlyTheTwo) {
        *seen = expected + names;
        return Outcome::Fail;
    }
    *seen = L"controls 128 to 133 (user-defined control right) granted to " + names + L" only";
    return Outcome::Pass;
}

}  // namespace qebcheck
