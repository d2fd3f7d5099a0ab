// Latency of the session actions, measured on the desktop:
//  - firmware event 0x1003 raised -> volume-up key-down seen by a low-level
//    keyboard hook (helper launch, start-up and key press), beside the cost of
//    starting a do-nothing desktop process (loads user32, one call into it)
//    the same way (user token, environment block, winsta0\default) until it
//    has exited;
//  - where the time goes: the helper "QEBEvent.exe -VOLUMEUP" started by this
//    program the same way, to its key-down (the helper's own start-up and key
//    press, and the hook's detection), so that the rest of the event's time
//    is the driver's delivery and the service's dispatch and launch steps;
//  - firmware event 0x1041 raised -> countdown dialog visible.
// Prints median, p99, min and max in milliseconds.
#include <windows.h>
#include <userenv.h>
#include <wtsapi32.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "desktop_probe.h"
#include "qebsim/client.h"

namespace {

const wchar_t kService[] = L"QEBEvent";
const wchar_t kServicePath[] = L"C:\\Program Files\\Kestil\\QEB\\QEBEvent.exe";

double Frequency() {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return static_cast<double>(f.QuadPart);
}

double NowMs() {
    static const double frequency = Frequency();
    LARGE_INTEGER c;
    QueryPerformanceCounter(&c);
    return c.QuadPart * 1000.0 / frequency;
}

double KeyDownAt = 0;
int KeyDowns = 0, KeyUps = 0;

LRESULT CALLBACK TimeKey(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION) {
        const auto* info = reinterpret_cast<const KBDLLHOOKSTRUCT*>(lParam);
        if (info->vkCode == VK_VOLUME_UP) {
            if (wParam == WM_KEYDOWN) {
                if (KeyDowns++ == 0) KeyDownAt = NowMs();
            } else if (wParam == WM_KEYUP) {
                ++KeyUps;
            }
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

void Report(const char* what, std::vector<double> v) {
    if (v.empty()) {
        printf("%-44s no samples\n", what);
        return;
    }
    std::sort(v.begin(), v.end());
    auto at = [&](double q) { return v[std::min(v.size() - 1, static_cast<size_t>(q * (v.size() - 1) + 0.5))]; };
    printf("%-44s n=%3zu median %8.2f ms  p99 %8.2f ms  min %8.2f  max %8.2f\n", what, v.size(), at(0.5), at(0.99),
           v.front(), v.back());
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// Starts commandLine as the service starts its helpers: user token,
// environment block, winsta0\default. Returns the process handle (null on
// failure); *startedAt is when the launch began.
HANDLE LaunchAsService(const std::wstring& commandLine, double* startedAt) {
    *startedAt = NowMs();
    HANDLE token = nullptr;
    if (!WTSQueryUserToken(WTSGetActiveConsoleSessionId(), &token)) return nullptr;
    void* environment = nullptr;
    if (!CreateEnvironmentBlock(&environment, token, FALSE)) environment = nullptr;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    wchar_t desktop[] = L"winsta0\\default";
    startup.lpDesktop = desktop;
    PROCESS_INFORMATION process = {};
    std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
    line.push_back(0);
    BOOL ok = CreateProcessAsUserW(token, nullptr, line.data(), nullptr, nullptr, FALSE,
                                   environment ? CREATE_UNICODE_ENVIRONMENT : 0, environment, nullptr, &startup,
                                   &process);
    if (environment) DestroyEnvironmentBlock(environment);
    CloseHandle(token);
    if (!ok) return nullptr;
    CloseHandle(process.hThread);
    return process.hProcess;
}

// One do-nothing process started as the service starts its helpers; ms
// from the start of the launch to the process's exit, or -1.
double LaunchNoop(const std::wstring& noopPath) {
    double start = 0;
    HANDLE process = LaunchAsService(noopPath, &start);
    if (process == nullptr) return -1;
    WaitForSingleObject(process, 30000);
    double took = NowMs() - start;
    CloseHandle(process);
    return took;
}

// The volume-up helper started directly the same way; ms from the start of
// the launch to the key-down seen by the hook, or -1.
double LaunchVolumeHelper(const std::wstring& helperCommandLine) {
    KeyDowns = KeyUps = 0;
    double start = 0;
    HANDLE process = LaunchAsService(helperCommandLine, &start);
    if (process == nullptr) return -1;
    while ((KeyDowns < 1 || KeyUps < 1) && NowMs() - start < 20000) qebtest::PumpMessages(1);
    WaitForSingleObject(process, 30000);
    CloseHandle(process);
    return KeyDowns < 1 ? -1 : KeyDownAt - start;
}

}  // namespace

int main(int argc, char** argv) {
    const int events = argc > 1 ? std::max(1, atoi(argv[1])) : 100;
    const int dialogs = std::max(5, events / 10);
    setvbuf(stdout, nullptr, _IONBF, 0);

    if (!qebsim::ServiceInstall(kService, kServicePath) || !qebsim::ServiceStart(kService) ||
        !qebsim::ServiceWaitState(kService, SERVICE_RUNNING, 20000)) {
        printf("session_bench: cannot start the service (error %lu)\n", GetLastError());
        return 1;
    }
    for (int i = 0; i < 500; ++i) {
        QEBSIM_STATE state = {};
        if (qebsim::GetState(&state) && state.pending_waits >= 1) break;
        Sleep(10);
    }
    HHOOK hook = SetWindowsHookExW(WH_KEYBOARD_LL, TimeKey, GetModuleHandleW(nullptr), 0);
    if (hook == nullptr) {
        printf("session_bench: no keyboard hook (error %lu)\n", GetLastError());
        return 1;
    }

    // Volume-up: event raised -> key-down on the desktop.
    std::vector<double> volume;
    int lost = 0;
    for (int i = 0; i < events + 3; ++i) {
        KeyDowns = KeyUps = 0;
        double start = NowMs();
        if (!qebsim::RaiseEvent(0x1003)) break;
        while ((KeyDowns < 1 || KeyUps < 1) && NowMs() - start < 20000) qebtest::PumpMessages(1);
        if (KeyDowns < 1) {
            ++lost;
            continue;
        }
        if (i >= 3) volume.push_back(KeyDownAt - start);  // the first launches warm caches up
        qebtest::PumpMessages(20);
    }

    // The same helper started by this program: its own share of the time.
    std::wstring helper = std::wstring(L"\"") + kServicePath + L"\" -VOLUMEUP";
    std::vector<double> direct;
    for (int i = 0; i < events + 3; ++i) {
        double took = LaunchVolumeHelper(helper);
        if (took < 0) {
            printf("session_bench: direct helper launch failed (error %lu)\n", GetLastError());
            break;
        }
        if (i >= 3) direct.push_back(took);
        qebtest::PumpMessages(20);
    }
    UnhookWindowsHookEx(hook);

    // A do-nothing process started the same way.
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring noop(self);
    noop = noop.substr(0, noop.find_last_of(L'\\') + 1) + L"session_noop.exe";
    std::vector<double> baseline;
    for (int i = 0; i < events + 3; ++i) {
        double took = LaunchNoop(noop);
        if (took < 0) {
            printf("session_bench: do-nothing launch failed (error %lu)\n", GetLastError());
            break;
        }
        if (i >= 3) baseline.push_back(took);
    }

    // Power loss: event raised -> countdown dialog visible. Each new event
    // ends the previous helper.
    std::vector<double> countdown;
    DWORD previousPid = 0;
    for (int i = 0; i < dialogs; ++i) {
        double start = NowMs();
        if (!qebsim::RaiseEvent(0x1041)) break;
        bool seen = false;
        while (!seen && NowMs() - start < 20000) {
            for (const auto& d : qebtest::FindHelperDialogs()) {
                if (d.pid != previousPid && d.text.rfind(L"System will hibernate", 0) == 0) {
                    countdown.push_back(NowMs() - start);
                    previousPid = d.pid;
                    seen = true;
                    break;
                }
            }
            if (!seen) Sleep(2);
        }
    }
    // The last helper is left to the session's end.

    printf("session_bench: %d volume events (%d lost), %d power-loss events\n", events, lost, dialogs);
    Report("0x1003 raised -> VK_VOLUME_UP key-down", volume);
    Report("do-nothing process, same launch, to exit", baseline);
    Report("helper -VOLUMEUP, same launch, to key-down", direct);
    if (!volume.empty() && !baseline.empty())
        printf("%-44s %.2f\n", "ratio key-down / do-nothing (medians)", Median(volume) / Median(baseline));
    if (!volume.empty() && !direct.empty() && !baseline.empty()) {
        printf("%-44s %.2f ms\n", "  service's share (delivery, dispatch, launch)", Median(volume) - Median(direct));
        printf("%-44s %.2f ms\n", "  helper beyond a do-nothing process", Median(direct) - Median(baseline));
    }
    Report("0x1041 raised -> countdown dialog visible", countdown);
    qebsim::ServiceStop(kService);
    return 0;
}
