// QEBCheck's automatic checks: each reads what it checks from the running
// system and changes nothing.
#pragma once
#include <string>

#include "check_report.h"
#include "system_facts.h"

namespace qebcheck {

struct CheckResult {
    Outcome outcome;
    std::wstring seen;
};

CheckResult CheckWindowsVersion(const OsVersion& os);
CheckResult CheckServiceConfig(const KitPlace& kit);
CheckResult CheckServiceRecovery();
CheckResult CheckServiceSecurity();
CheckResult CheckEventSource(const KitPlace& kit);
CheckResult CheckDeviceOpen();
CheckResult CheckLibraryExports(const KitPlace& kit);
CheckResult CheckHibernation(const KitPlace& kit);
CheckResult CheckSasBinding(const KitPlace& kit, const OsVersion& os);

}  // namespace qebcheck
