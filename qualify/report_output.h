// QEBCheck's output: every report line goes to the console and to the
// report file as it is made, so a run that ends early (a hibernation that
// never resumed, a closed window) still leaves the lines so far. Prompts go
// to the console only.
#pragma once
#include <windows.h>

#include <string>

#include "check_report.h"

namespace qebcheck {

class ReportOutput {
public:
    ReportOutput();
    ~ReportOutput();
    // Creates the report file (UTF-8 with a byte order mark, CRLF lines).
    // False with the Win32 error in *error.
    bool Open(const std::wstring& path, DWORD* error);
    // A header line: console and report.
    void Line(const std::wstring& text);
    // A check's line: console and report, counted.
    void Check(Outcome outcome, const wchar_t* id, const std::wstring& seen);
    // A prompt for the operator: console only.
    void Prompt(const std::wstring& text);
    // The summary line; returns the exit code.
    int Finish();
    const Tally& tally() const { return tally_; }

private:
    void ToConsole(const std::wstring& text);
    HANDLE console_;
    bool consoleIsWindow_;
    HANDLE file_;
    Tally tally_;
};

// Text to UTF-8.
std::string Utf8(const std::wstring& text);

}  // namespace qebcheck
