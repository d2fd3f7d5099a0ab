#include "check_report.h"

#include <strsafe.h>

namespace qebcheck {

void Tally::Add(Outcome outcome) {
    switch (outcome) {
        case Outcome::Pass: ++passed; break;
        case Outcome::Fail: ++failed; break;
        case Outcome::Skip: ++skipped; break;
    }
}

std::wstring CheckLine(Outcome outcome, const std::wstring& id, const std::wstring& seen) {
    const wchar_t* word = outcome == Outcome::Pass ? L"PASS" : outcome == Outcome::Fail ? L"FAIL" : L"SKIP";
    std::wstring line = std::wstring(word) + L" " + id + L": ";
    for (wchar_t c : seen) line += (c < 0x20 || c == 0x7F) ? L' ' : c;
    return line;
}

std::wstring SummaryLine(const Tally& tally) {
    wchar_t text[96];
    StringCchPrintfW(text, sizeof(text) / sizeof(text[0]), L"%u passed, %u failed, %u skipped", tally.passed,
             tally.failed, tally.skipped);
    return text;
}

int ExitCodeFor(const Tally& tally) { return tally.failed == 0 ? 0 : 1; }

std::wstring ReportFileName(const std::wstring& computer, const SYSTEMTIME& when) {
    std::wstring name = L"QEBCheck-";
    for (wchar_t c : computer) {
        bool bad = c < 0x20 || c == L'\\' || c == L'/' || c == L':' || c == L'*' || c == L'?' || c == L'"' ||
                   c == L'<' || c == L'>' || c == L'|';
        name += bad ? L'_' : c;
    }
    if (computer.empty()) name += L"unknown";
    wchar_t stamp[32];
    StringCchPrintfW(stamp, sizeof(stamp) / sizeof(stamp[0]), L"-%04u%02u%02u-%02u%02u%02u.txt", when.wYear, when.wMonth,
             when.wDay, when.wHour, when.wMinute, when.wSecond);
    return name + stamp;
}

}  // namespace qebcheck
