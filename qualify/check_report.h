// QEBCheck: the report's lines, its summary, its exit code and its file name.
// Pure: nothing here touches the system.
#pragma once
#include <windows.h>

#include <string>

namespace qebcheck {

enum class Outcome { Pass, Fail, Skip };

struct Tally {
    unsigned passed = 0;
    unsigned failed = 0;
    unsigned skipped = 0;
    void Add(Outcome outcome);
};

// "PASS <id>: <seen>", "FAIL <id>: ...", "SKIP <id>: ...". Line ends, tabs
// and other control characters in `seen` become blanks: one check, one line.
std::wstring CheckLine(Outcome outcome, const std::wstring& id, const std::wstring& seen);

// "N passed, M failed, K skipped".
std::wstring SummaryLine(const Tally& tally);

// 0 only when nothing failed.
int ExitCodeFor(const Tally& tally);

// "QEBCheck-<computer>-<yyyymmdd-hhmmss>.txt" for the local time `when`.
// Characters a file name cannot hold become '_'.
std::wstring ReportFileName(const std::wstring& computer, const SYSTEMTIME& when);

}  // namespace qebcheck
