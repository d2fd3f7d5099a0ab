// Who may send a service its user-defined controls (128 to 255), read from
// the DACL of its security descriptor as the service manager returns it
// (self-relative). Pure: the descriptor's bytes are parsed here, nothing is
// asked of the system.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "check_report.h"

namespace qebcheck {

struct ControlRights {
    bool parsed = false;     // the descriptor and its DACL could be read
    std::wstring problem;    // why not, when !parsed
    bool nullDacl = false;   // no DACL: everyone has every right
    unsigned aceCount = 0;   // ACEs in the DACL
    // SIDs ("S-1-5-18") the right is granted to, in the order their deciding
    // ACE appears.
    std::vector<std::wstring> granted;
};

// The user-defined-control right as the DACL grants it: an ACE counts when it
// applies to the object itself (not inherit-only) and its mask holds
// SERVICE_USER_DEFINED_CONTROL, GENERIC_EXECUTE or GENERIC_ALL; for each SID
// the first such ACE, allow or deny, decides.
ControlRights ReadControlRights(const BYTE* descriptor, size_t size);

// A SID's well-known name ("SYSTEM", "Administrators", "INTERACTIVE"...) or
// the SID itself.
std::wstring SidDisplayName(const std::wstring& sid);

// PASS when exactly SYSTEM and Administrators hold the right.
Outcome JudgeControlRights(const ControlRights& rights, std::wstring* seen);

}  // namespace qebcheck
