// Benchmark: 10,000 firmware events delivered into an open Tovrel dialog by
// the fixture library (every event counted, time per event, memory of the
// Tovrel process before and after), then the time of one "Update All".
// Prints figures; asserts nothing about speed.
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

std::string Find(const std::vector<std::string>& lines, const std::string& prefix) {
    for (const std::string& line : lines)
        if (line.rfind(prefix, 0) == 0) return line;
    return "";
}

}  // namespace

int main(int argc, char** argv) {
    const int kEvents = argc > 1 ? atoi(argv[1]) : 10000;
    const int kUpdates = argc > 2 ? atoi(argv[2]) : 100;
    TovrelProcess p;
    if (!p.Start(L"bench", L"frame_fake_qebi_full.dll", L"",
                 {{L"FAKE_QEBI_EVENTS", L"0x1003"},
                  {L"FAKE_QEBI_REPEAT", std::to_wstring(kEvents)},
                  {L"FAKE_QEBI_DELAY_MS", L"3000"}})) {
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
    if (!p.WaitForCall("FIRED", 1800000)) {
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
    // n events leave n - (n / 1001) * 1001 + 1 lines once the log was emptied.
    unsigned expectedLines = count >= 1001 ? count - (count / 1001) * 1001 + 1 : count + 1;

    printf("Tovrel firmware events (fixture library, one delivery thread, code 0x1003)\n");
    printf("  events fired / delivered        %u / %d\n", count, kEvents);
    printf("  log lines after                 %zu (expected %u when every event was counted)\n", lines.size(),
           expectedLines);
    printf("  total time                      %.1f ms\n", us / 1000.0);
    printf("  mean time per event             %.3f ms\n", count ? us / 1000.0 / count : 0.0);
    unsigned long long lastUs = 0;
    for (const std::string& line : calls) {
        unsigned n = 0;
        unsigned long long t = 0, priv = 0;
        if (sscanf(line.c_str(), "CHUNK %u us=%llu private=%llu", &n, &t, &priv) == 3) {
            printf("    events %5u-%5u: %.3f ms/event, committed %.2f MB\n", n - 999, n,
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
