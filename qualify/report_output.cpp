#include "report_output.h"

namespace qebcheck {

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return std::string();
    int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                nullptr);
    if (n <= 0) return std::string();
    std::string bytes(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &bytes[0], n, nullptr, nullptr);
    return bytes;
}

namespace {

void WriteBytes(HANDLE h, const std::string& bytes) {
    if (h == nullptr || h == INVALID_HANDLE_VALUE || bytes.empty()) return;
    DWORD written = 0;
    WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

}  // namespace

ReportOutput::ReportOutput()
    : console_(GetStdHandle(STD_OUTPUT_HANDLE)), consoleIsWindow_(false), file_(INVALID_HANDLE_VALUE) {
    DWORD mode = 0;
    consoleIsWindow_ = console_ != nullptr && console_ != INVALID_HANDLE_VALUE && GetConsoleMode(console_, &mode);
}

ReportOutput::~ReportOutput() {
    if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
}

bool ReportOutput::Open(const std::wstring& path, DWORD* error) {
    file_ = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                        nullptr);
    if (file_ == INVALID_HANDLE_VALUE) {
        *error = GetLastError();
        return false;
    }
    WriteBytes(file_, "\xEF\xBB\xBF");
    return true;
}

void ReportOutput::ToConsole(const std::wstring& text) {
    const std::wstring line = text + L"\r\n";
    if (consoleIsWindow_) {
        DWORD written = 0;
        WriteConsoleW(console_, line.c_str(), static_cast<DWORD>(line.size()), &written, nullptr);
    } else {
        // Redirected to a file or a pipe: UTF-8, each line written at once.
        WriteBytes(console_, Utf8(line));
    }
}

void ReportOutput::Line(const std::wstring& text) {
    ToConsole(text);
    WriteBytes(file_, Utf8(text + L"\r\n"));
}

void ReportOutput::Check(Outcome outcome, const wchar_t* id, const std::wstring& seen) {
    tally_.Add(outcome);
    Line(CheckLine(outcome, id, seen));
}

void ReportOutput::Prompt(const std::wstring& text) { ToConsole(text); }

int ReportOutput::Finish() {
    Line(SummaryLine(tally_));
    if (file_ != INVALID_HANDLE_VALUE) FlushFileBuffers(file_);
    return ExitCodeFor(tally_);
}

}  // namespace qebcheck
