// QEBCheck's guided checks: the operator is asked to act on the PC and the
// effect is observed here (a keyboard hook, the input desktop, the service's
// windows on the desktop, the power broadcasts), never taken on the
// operator's word. Every wait is bounded by /wait.
#pragma once
#include "report_output.h"

namespace qebcheck {

// Runs key.volumeup, key.volumedown, cad.secure, powerloss.countdown and
// powerloss.resume, writing each line to `out`. `wineVersion` is "" on
// Windows.
void RunGuidedChecks(ReportOutput& out, unsigned waitSeconds, const std::wstring& wineVersion);

}  // namespace qebcheck
