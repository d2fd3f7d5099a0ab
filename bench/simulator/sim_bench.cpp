// Figures of the simulated platform under Wine: event round trip (raise to
// completion of a pended wait), a framed request the way the service sends
// it (open, request, close), and raising into a queue. Prints figures only.
// Run in a session:  bash scripts/run-system-test.sh $QEB_BUILD/bin/sim_bench.exe [count]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "qebisim/protocol.h"

namespace {

double Now() {
    static LARGE_INTEGER freq = [] { LARGE_INTEGER f; QueryPerformanceFrequency(&f); return f; }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) * 1e6 / static_cast<double>(freq.QuadPart);
}

void Report(const char* what, std::vector<double> us) {
    if (us.empty()) {
        std::printf("%-34s no samples\n", what);
        return;
    }
    std::sort(us.begin(), us.end());
    auto at = [&](double q) { return us[std::min(us.size() - 1, static_cast<size_t>(q * us.size()))]; };
    std::printf("%-34s n=%zu median=%.0fus p90=%.0fus p99=%.0fus max=%.0fus\n", what, us.size(), at(0.5), at(0.9),
                at(0.99), us.back());
}

}  // namespace

int main(int argc, char** argv) {
    int count = argc > 1 ? std::atoi(argv[1]) : 1000;
    if (count <= 0) count = 1000;
    HANDLE ctl = CreateFileW(QEBSIM_CONTROL_PATH, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    HANDLE dev = CreateFileW(QEBSIM_DEVICE_PATH, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr);
    if (ctl == INVALID_HANDLE_VALUE || dev == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "sim_bench: devices not open, error %lu\n", GetLastError());
        return 1;
    }
    HANDLE ev = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::vector<double> roundTrip, raiseOnly, frames;
    uint32_t lost = 0;

    for (int i = 0; i < count; ++i) {
        OVERLAPPED ov{};
        ov.hEvent = ev;
        ResetEvent(ev);
        uint32_t code = 0;
        DWORD got = 0;
        if (!DeviceIoControl(dev, QEB_IOCTL_WAIT_EVENT, nullptr, 0, &code, 4, &got, &ov) &&
            GetLastError() != ERROR_IO_PENDING) {
            std::fprintf(stderr, "sim_bench: wait failed, error %lu\n", GetLastError());
            return 1;
        }
        uint32_t raised = 0x1000u + static_cast<uint32_t>(i % 0x100);
        QEBSIM_RAISE_RESULT res{};
        double t0 = Now();
        DeviceIoControl(ctl, QEBSIM_IOCTL_RAISE_EVENT, &raised, 4, &res, sizeof(res), &got, nullptr);
        double t1 = Now();
        if (WaitForSingleObject(ev, 2000) != WAIT_OBJECT_0 || !GetOverlappedResult(dev, &ov, &got, FALSE) ||
            code != raised) {
            ++lost;
            continue;
        }
        double t2 = Now();
        raiseOnly.push_back(t1 - t0);
        roundTrip.push_back(t2 - t0);
    }

    // The service's KNVS 9 request: open, request, close.
    const uint8_t power[24] = {0x50, 0x4D, 0x44, 0x42, 0x18, 0x00, 0x01, 0x00, 0xAA, 0x0D, 0x09, 0x00};
    for (int i = 0; i < count / 2; ++i) {
        uint8_t f[24];
        std::memcpy(f, power, sizeof(f));
        double t0 = Now();
        HANDLE h = CreateFileW(QEBSIM_DEVICE_PATH, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD got = 0;
        BOOL ok = h != INVALID_HANDLE_VALUE && DeviceIoControl(h, QEB_IOCTL_KNVS, f, 24, f, 24, &got, nullptr);
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
        if (ok) frames.push_back(Now() - t0);
    }

    // Raising with no wait outstanding: events go to the queue.
    std::vector<double> queued;
    for (int i = 0; i < count; ++i) {
        uint32_t raised = 0x1001;
        DWORD got = 0;
        double t0 = Now();
        DeviceIoControl(ctl, QEBSIM_IOCTL_RAISE_EVENT, &raised, 4, nullptr, 0, &got, nullptr);
        queued.push_back(Now() - t0);
    }

    Report("raise request (wait pended)", raiseOnly);
    Report("raise -> wait completed", roundTrip);
    Report("framed request open+KNVS9+close", frames);
    Report("raise into queue", queued);
    std::printf("events lost or out of order: %u of %d\n", lost, count);
    CloseHandle(ev);
    CloseHandle(dev);
    CloseHandle(ctl);
    return 0;
}
