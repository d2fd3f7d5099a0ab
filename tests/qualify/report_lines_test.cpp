#include <gtest/gtest.h>

#include "check_report.h"
#include "command_line.h"

namespace qebcheck {
namespace {

std::string Narrow(const std::wstring& s) { return std::string(s.begin(), s.end()); }

TEST(QebCheckReportLines, OneLinePerCheckWithItsWord) {
    struct Case {
        Outcome outcome;
        const wchar_t* id;
        const wchar_t* seen;
        const wchar_t* line;
    } cases[] = {
        {Outcome::Pass, L"device.open", L"\\\\.\\QEBI opened", L"PASS device.open: \\\\.\\QEBI opened"},
        {Outcome::Fail, L"key.volumeup", L"nothing seen in 20 s", L"FAIL key.volumeup: nothing seen in 20 s"},
        {Outcome::Skip, L"sas.bind", L"Windows 5.1 has no SendSAS", L"SKIP sas.bind: Windows 5.1 has no SendSAS"},
        // A text that holds line ends (a rendered message) stays one line.
        {Outcome::Fail, L"eventlog.source", L"got \"a\r\n\tb\"", L"FAIL eventlog.source: got \"a   b\""},
    };
    for (const Case& c : cases) EXPECT_EQ(Narrow(c.line), Narrow(CheckLine(c.outcome, c.id, c.seen)));
}

TEST(QebCheckReportLines, SummaryCountsAndExitCode) {
    struct Case {
        unsigned pass, fail, skip;
        const char* summary;
        int exitCode;
    } cases[] = {
        {11, 0, 3, "11 passed, 0 failed, 3 skipped", 0},
        {6, 1, 2, "6 passed, 1 failed, 2 skipped", 1},
        {0, 14, 0, "0 passed, 14 failed, 0 skipped", 1},
    };
    for (const Case& c : cases) {
        Tally tally;
        for (unsigned i = 0; i < c.pass; ++i) tally.Add(Outcome::Pass);
        for (unsigned i = 0; i < c.fail; ++i) tally.Add(Outcome::Fail);
        for (unsigned i = 0; i < c.skip; ++i) tally.Add(Outcome::Skip);
        EXPECT_EQ(c.summary, Narrow(SummaryLine(tally)));
        EXPECT_EQ(c.exitCode, ExitCodeFor(tally)) << c.summary;
    }
}

TEST(QebCheckReportLines, ReportFileNameFromComputerAndLocalTime) {
    SYSTEMTIME t = {};
    t.wYear = 2027;
    t.wMonth = 3;
    t.wDay = 9;
    t.wHour = 7;
    t.wMinute = 5;
    t.wSecond = 4;
    EXPECT_EQ("QEBCheck-AIO-27-20270309-070504.txt", Narrow(ReportFileName(L"AIO-27", t)));
    EXPECT_EQ("QEBCheck-A_B_C-20270309-070504.txt", Narrow(ReportFileName(L"A/B:C", t)));
    EXPECT_EQ("QEBCheck-unknown-20270309-070504.txt", Narrow(ReportFileName(L"", t)));
}

TEST(QebCheckCommandLine, Switches) {
    struct Case {
        std::vector<std::wstring> args;
        bool ok;
        bool automaticOnly;
        const wchar_t* report;
        unsigned wait;
    } cases[] = {
        {{}, true, false, L"", 20},
        {{L"/auto"}, true, true, L"", 20},
        {{L"-AUTO", L"/Wait", L"5"}, true, true, L"", 5},
        {{L"/report", L"D:\\r.txt", L"/wait", L"3600"}, true, false, L"D:\\r.txt", 3600},
        {{L"/wait", L"0"}, false, false, L"", 20},
        {{L"/wait", L"5s"}, false, false, L"", 20},
        {{L"/wait"}, false, false, L"", 20},
        {{L"/automatic"}, false, false, L"", 20},
    };
    for (const Case& c : cases) {
        Options options;
        std::wstring error;
        std::string args;
        for (const auto& a : c.args) args += Narrow(a) + " ";
        ASSERT_EQ(c.ok, ParseOptions(c.args, &options, &error)) << args << Narrow(error);
        if (!c.ok) {
            EXPECT_FALSE(error.empty()) << args;
            continue;
        }
        EXPECT_EQ(c.automaticOnly, options.automaticOnly) << args;
        EXPECT_EQ(Narrow(c.report), Narrow(options.reportPath)) << args;
        EXPECT_EQ(c.wait, options.waitSeconds) << args;
    }
}

}  // namespace
}  // namespace qebcheck
