// Benchmark: 4,096 firmware events fired back to back into an open Tovrel
// dialog by the fixture library (every event counted, time per event, memory
// of the Tovrel process before and after), then the time of one "Update
// All". The dialog's queue holds 4,096 events; a burst beyond that may drop
// events, and the log's dropped-events lines are then reported.
// Prints figures; asserts nothing about speed.
//
// The library's callback only hands each code to the dialog's thread, so the
// time per event is taken from outside, from the log itself: its length is
// sampled from the first event line until every line is in and the log stays
// unchanged. Every line has the same length, so the length tells how many
// lines the log holds; the time per event with the log near 1000 lines comes
// from the samples taken while it held 900 to 1000.
#include <windows.h>
#include <psapi.h>

#include <stdio.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tovrel_driver.h"

using namespace tovrel_test;

namespace {

SIZE_T CommittedBytes(HANDLE process) {
    PROCESS_MEMORY_COUNTERS_EX pmc = {};
    pmc.cb = sizeof(pmc);
    if (!GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&pmc), sizeof(pmc))) return 0;
    // Wine leaves PrivateUsage at 0; the page-file usage is the private
    // committed memory it does report.
    return pmc.PagefileUsage;
}

double NowMs() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart * 1000.0 / frequency.QuadPart;
}

LRESULT TextLength(HWND edit) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(edit, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, 5000, &length)) return -1;
    return static_cast<LRESULT>(length);
}

struct LogTiming {
    double firstLineMs = 0;   // first event line seen
    double lastChangeMs = 0;  // last change of the log
    double nearFullMs = 0;    // time spent while the log held 900 to 1000 lines
    long nearFullEvents = 0;  // events written meanwhile
    bool settled = false;
};

struct Sample {
    double ms;
    LRESULT length;
};

// Samples the log's length until it has not changed for settleMs after the
// library reported every event fired (or the timeout).
std::vector<Sample> FollowLog(HWND edit, const TovrelProcess& p, DWORD settleMs, DWORD timeoutMs, bool* settled) {
    std::vector<Sample> samples;
    LRESULT last = TextLength(edit);
    samples.push_back({NowMs(), last});
    bool fired = false;
    double lastCallsCheck = 0, lastChange = 0;
    const double start = NowMs();
    *settled = false;
    while (NowMs() - start < timeoutMs) {
        const LRESULT length = TextLength(edit);
        const double now = NowMs();
        if (length >= 0 && length != last) {
            samples.push_back({now, length});
            last = length;
            lastChange = now;
        }
        if (!fired && now - lastCallsCheck > 200) {
            lastCallsCheck = now;
            for (const std::string& line : p.LibraryCalls()) fired = fired || line.rfind("FIRED", 0) == 0;
        }
        if (fired && lastChange != 0 && now - lastChange > settleMs) {
            *settled = true;
            break;
        }
        Sleep(1);
    }
    return samples;
}

// Times from the samples; every event line is lineLength characters, the
// registration line (before the first emptying) header characters.
LogTiming Analyse(const std::vector<Sample>& samples, LRESULT lineLength) {
    LogTiming t;
    if (samples.size() < 2 || lineLength <= 0) return t;
    t.firstLineMs = samples[1].ms;
    t.lastChangeMs = samples.back().ms;
    LRESULT base = samples[0].length;
    for (size_t i = 1; i < samples.size(); ++i) {
        if (samples[i].length < samples[i - 1].length) {
            base = 0;  // emptied at the 1001st event
            continue;
        }
        const long before = static_cast<long>((samples[i - 1].length - base) / lineLength);
        const long now = static_cast<long>((samples[i].length - base) / lineLength);
        if (before >= 900 && now <= 1000) {
            t.nearFullMs += samples[i].ms - samples[i - 1].ms;
            t.nearFullEvents += now - before;
        }
    }
    return t;
}

std::string Find(const std::vector<std::string>& lines, const std::string& prefix) {
    for (const std::string& line : lines)
        if (line.rfind(prefix, 0) == 0) return line;
    return "";
}

}  // namespace

int main(int argc, char** argv) {
    const int kEvents = argc > 1 ? atoi(argv[1]) : 4096;
    const int kUpdates = argc > 2 ? atoi(argv[2]) : 100;
    TovrelProcess p;
    if (!p.Start(L"bench", L"frame_fake_qebi_full.dll", L"",
                 {{L"FAKE_QEBI_EVENTS", L"0x1003"},
                  {L"FAKE_QEBI_REPEAT", std::to_wstring(kEvents)},
                  {L"FAKE_QEBI_DELAY_MS", L"3000"},
                  {L"FAKE_QEBI_QUIET", L"1"}})) {
        printf("cannot start Tovrel\n");
        return 1;
    }
    HWND dlg = p.WaitForWindow(L"Kestil Desktop BIOS Test Application", 20000);
    if (!dlg) {
        printf("the dialog did not open\n");
        return 1;
    }
    Sleep(1000);
    SIZE_T before = CommittedBytes(p.process());
    HWND log = GetDlgItem(dlg, 1024);
    // The first drain can hold one line only if the log is sampled before
    // the library fires: it waits 3 s after the registration.
    bool settled = false;
    const std::vector<Sample> samples = FollowLog(log, p, 500, 1800000, &settled);
    if (!p.WaitForCall("FIRED", 1000) || !settled) {
        printf("events did not finish\n");
        return 1;
    }
    SIZE_T after = CommittedBytes(p.process());
    std::vector<std::string> calls = p.LibraryCalls();
    std::string fired = Find(calls, "FIRED");
    unsigned count = 0;
    unsigned long long us = 0, pb = 0, pa = 0;
    sscanf(fired.c_str(), "FIRED %u us=%llu private_before=%llu private_after=%llu", &count, &us, &pb, &pa);
    std::vector<std::wstring> lines = SplitLines(GetText(GetDlgItem(dlg, 1024)));
    const LogTiming timing = Analyse(samples, lines.empty() ? 0 : static_cast<LRESULT>(lines.back().size()) + 2);
    // n events leave n - (n / 1001) * 1001 + 1 lines once the log was emptied.
    unsigned expectedLines = count >= 1001 ? count - (count / 1001) * 1001 + 1 : count + 1;
    // Lines saying how many events the full queue dropped ("N firmware events dropped").
    unsigned long dropped = 0;
    size_t droppedLines = 0;
    for (const std::wstring& line : lines) {
        unsigned long n = 0;
        if (swscanf(line.c_str(), L"%lu firmware event", &n) == 1 && line.find(L" dropped") != std::wstring::npos) {
            dropped += n;
            ++droppedLines;
        }
    }
    if (droppedLines != 0) expectedLines = 0;  // the rule above counts only events logged

    printf("Tovrel firmware events (fixture library, one delivery thread, code 0x1003)\n");
    printf("  events fired / delivered        %u / %d\n", count, kEvents);
    if (droppedLines == 0)
        printf("  log lines after                 %zu (expected %u when every event was counted)\n", lines.size(),
               expectedLines);
    else
        printf("  log lines after                 %zu, of them %zu dropped-events lines: %lu events dropped"
               " (the log keeps only the lines since its last emptying)\n",
               lines.size(), droppedLines, dropped);
    const double intoLogMs = timing.lastChangeMs - timing.firstLineMs;
    printf("  library's time to fire them     %.1f ms (the callback only queues)\n", us / 1000.0);
    printf("  first line to last line         %.1f ms\n", intoLogMs);
    printf("  mean time per event             %.3f ms\n", count > 1 ? intoLogMs / (count - 1) : 0.0);
    if (timing.nearFullEvents > 0)
        printf("  mean time per event, log at 900-1000 lines  %.3f ms (%ld events)\n",
               timing.nearFullMs / timing.nearFullEvents, timing.nearFullEvents);
    unsigned long long lastUs = 0;
    for (const std::string& line : calls) {
        unsigned n = 0;
        unsigned long long t = 0, priv = 0;
        if (sscanf(line.c_str(), "CHUNK %u us=%llu private=%llu", &n, &t, &priv) == 3) {
            printf("    events %5u-%5u: %.3f ms/event handed over, committed %.2f MB\n", n - 999, n,
                   (t - lastUs) / 1000.0 / 1000.0, priv / 1048576.0);
            lastUs = t;
        }
    }
    printf("  committed bytes (from outside) before  %.2f MB\n", before / 1048576.0);
    printf("  committed bytes (from outside) after   %.2f MB\n", after / 1048576.0);
    printf("  committed bytes (inside, around the events) %.2f MB -> %.2f MB\n", pb / 1048576.0, pa / 1048576.0);

    // One "Update All" (button 239), timed until the dialog has handled it.
    HWND button = GetDlgItem(dlg, 239);
    std::vector<double> ms;
    LARGE_INTEGER freq, t0, t1;
    QueryPerformanceFrequency(&freq);
    for (int i = 0; i < kUpdates; ++i) {
        QueryPerformanceCounter(&t0);
        DWORD_PTR r;
        SendMessageTimeoutW(dlg, WM_COMMAND, MAKEWPARAM(239, BN_CLICKED), reinterpret_cast<LPARAM>(button),
                            SMTO_NORMAL, 10000, &r);
        QueryPerformanceCounter(&t1);
        ms.push_back((t1.QuadPart - t0.QuadPart) * 1000.0 / freq.QuadPart);
    }
    std::sort(ms.begin(), ms.end());
    if (!ms.empty())
        printf("  Update All (%d runs)            median %.2f ms, p90 %.2f ms, max %.2f ms\n", kUpdates,
               ms[ms.size() / 2], ms[ms.size() * 9 / 10], ms.back());

    PostMessageW(dlg, WM_CLOSE, 0, 0);
    DWORD code = 0;
    p.WaitExit(15000, &code);
    return 0;
}
