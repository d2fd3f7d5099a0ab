// qebictl: command-line control of the simulated platform and of services.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "ctl_parse.h"
#include "qebsim/client.h"

namespace {

const char kUsage[] =
    "usage: qebictl COMMAND [ARGS]\n"
    "  raise CODE [COUNT]            raise a firmware event COUNT times (default 1)\n"
    "  health WORD                   health status word answered by KNVS 7\n"
    "  power-flags WORD              power flags word answered by KNVS 9\n"
    "  readings B0 .. B19 | W0 .. W9 thermal reading set: 20 hex bytes (2D 00 ..) or 10 words\n"
    "  feature NAME|INDEX VALUE      set a feature word to any value; names: wifi bt\n"
    "                                mic vol ambient power thermal cad battery usb fsc health\n"
    "  fail-next N                   the next N framed requests fail\n"
    "  short-next BYTES              the next event completion carries only BYTES (0-3) bytes\n"
    "  short-mode BYTES|off          every event wait completes at once with BYTES (0-3) bytes, until off\n"
    "  device lose | restore         \\\\.\\QEBI goes away under its users / comes back\n"
    "  journal [--from SEQ] [--raw]  print the journal (frames in hex; --raw: all data)\n"
    "  clear-journal                 empty the journal\n"
    "  state                         print the firmware state and counters\n"
    "  note TEXT                     add a note to the journal\n"
    "  disk N present [--temp C | --no-temp] [--fail-version] [--fail-enable] [--fail-read]\n"
    "  disk N remove                 simulated physical drive N (0..9) with SMART data\n"
    "  service-control NAME CODE     send a control code (ControlService)\n"
    "  service-status NAME           state, exit codes, start type and account\n"
    "  run PROGRAM [ARG]             run a program, wait, print its 32-bit exit code\n"
    "  press-ok TEXT                 answer OK in every dialog that shows a text starting with TEXT\n"
    "Numbers are decimal or 0x hex. Exit code 0 on success.\n";

int Usage() {
    std::fputs(kUsage, stderr);
    return 2;
}

int Fail(const char* what) {
    DWORD err = GetLastError();
    std::fprintf(stderr, "qebictl: %s failed, error %lu\n", what, static_cast<unsigned long>(err));
    return 1;
}

int BadArg(const char* what, const std::string& arg) {
    std::fprintf(stderr, "qebictl: bad %s: '%s'\n", what, arg.c_str());
    return 2;
}

std::wstring Widen(const std::string& s) {
    if (s.empty()) return std::wstring();
    int n = MultiByteToWideChar(CP_UTF8, 0, s.c_str(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.c_str(), static_cast<int>(s.size()), &out[0], n);
    return out;
}

std::string Narrow(const std::wstring& s) {
    if (s.empty()) return std::string();
    int n = WideCharToMultiByte(CP_UTF8, 0, s.c_str(), static_cast<int>(s.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, s.c_str(), static_cast<int>(s.size()), &out[0], n, nullptr, nullptr);
    return out;
}

int CmdRaise(const std::vector<std::string>& a) {
    uint32_t code, count = 1;
    if (a.empty() || a.size() > 2) return Usage();
    if (!qebictl::ParseNumber(a[0], &code)) return BadArg("event code", a[0]);
    if (a.size() == 2 && !qebictl::ParseNumber(a[1], &count)) return BadArg("count", a[1]);
    QEBSIM_RAISE_RESULT total{};
    for (uint32_t i = 0; i < count; ++i) {
        QEBSIM_RAISE_RESULT r{};
        if (!qebsim::RaiseEvent(code, &r)) return Fail("raise");
        total.listeners = r.listeners;
        total.completed += r.completed;
        total.queued += r.queued;
        total.dropped += r.dropped;
        if (r.max_depth > total.max_depth) total.max_depth = r.max_depth;
    }
    std::printf("raised 0x%04X x%u: listeners=%u completed=%u queued=%u dropped=%u max_depth=%u\n", code, count,
                total.listeners, total.completed, total.queued, total.dropped, total.max_depth);
    return 0;
}

int CmdWord(const std::vector<std::string>& a, bool (*fn)(uint32_t), const char* what) {
    uint32_t v;
    if (a.size() != 1) return Usage();
    if (!qebictl::ParseNumber(a[0], &v)) return BadArg(what, a[0]);
    return fn(v) ? 0 : Fail(what);
}

int CmdReadings(const std::vector<std::string>& a) {
    uint8_t bytes[20];
    if (!qebictl::ParseReadings(a, bytes)) {
        std::fprintf(stderr, "qebictl: readings need 20 hex bytes or 10 16-bit words\n");
        return 2;
    }
    return qebsim::SetReadings(bytes) ? 0 : Fail("readings");
}

int CmdFeature(const std::vector<std::string>& a) {
    uint32_t v;
    if (a.size() != 2) return Usage();
    int index = qebictl::FeatureIndex(a[0]);
    if (index < 0) return BadArg("feature", a[0]);
    if (!qebictl::ParseNumber(a[1], &v)) return BadArg("value", a[1]);
    return qebsim::SetFeature(static_cast<uint32_t>(index), static_cast<int32_t>(v)) ? 0 : Fail("feature");
}

int CmdJournal(const std::vector<std::string>& a) {
    uint32_t from = 0;
    bool raw = false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i] == "--raw") {
            raw = true;
        } else if (a[i] == "--from" && i + 1 < a.size()) {
            if (!qebictl::ParseNumber(a[++i], &from)) return BadArg("sequence number", a[i]);
        } else {
            return Usage();
        }
    }
    std::vector<QEBSIM_RECORD> records;
    QEBSIM_JOURNAL_HEADER hdr{};
    if (!qebsim::ReadJournal(from, &records, &hdr)) return Fail("journal");
    std::printf("journal: oldest=%u next=%u records=%u qpc_frequency=%lld\n", hdr.oldest_seq, hdr.next_seq,
                static_cast<unsigned>(records.size()), static_cast<long long>(hdr.qpc_frequency));
    int64_t base = records.empty() ? 0 : records.front().time_qpc;
    for (const QEBSIM_RECORD& r : records)
        std::printf("%s\n", qebictl::FormatRecord(r, base, hdr.qpc_frequency, raw).c_str());
    return 0;
}

int CmdState() {
    QEBSIM_STATE s{};
    if (!qebsim::GetState(&s)) return Fail("state");
    std::printf("health_status=0x%08X\npower_flags=0x%08X\n", s.health_status, s.power_flags);
    for (uint32_t i = 0; i < QEB_FEATURE_COUNT; ++i)
        std::printf("feature.%s=0x%08X\n", qebictl::FeatureName(i), static_cast<uint32_t>(s.features[i]));
    std::printf("readings=%s\n", qebictl::HexBytes(s.readings, 20).c_str());
    std::printf("fail_next=%u\nlisteners=%u\npending_waits=%u\nevents_raised=%u\nevents_delivered=%u\n"
                "events_dropped=%u\nframes_received=%u\nframes_rejected=%u\njournal_next_seq=%u\nevents_short=%u\n"
                "device_lost=%u\nshort_mode=0x%08X\nwaits_short=%u\n",
                s.fail_next, s.listeners, s.pending_waits, s.events_raised, s.events_delivered, s.events_dropped,
                s.frames_received, s.frames_rejected, s.journal_next_seq, s.events_short, s.device_lost, s.short_mode,
                s.waits_short);
    return 0;
}

int CmdDisk(const std::vector<std::string>& a) {
    uint32_t drive;
    if (a.size() < 2) return Usage();
    if (!qebictl::ParseNumber(a[0], &drive) || drive > 9) return BadArg("drive", a[0]);
    if (a[1] == "remove") {
        if (a.size() != 2) return Usage();
        return qebsim::RemoveDisk(drive) ? 0 : Fail("disk remove");
    }
    if (a[1] != "present") return Usage();
    int temperature = 40;
    uint32_t flags = 0;
    for (size_t i = 2; i < a.size(); ++i) {
        uint32_t v;
        if (a[i] == "--temp" && i + 1 < a.size()) {
            if (!qebictl::ParseNumber(a[++i], &v) || v > 255) return BadArg("temperature", a[i]);
            temperature = static_cast<int>(v);
        } else if (a[i] == "--no-temp") {
            temperature = -1;
        } else if (a[i] == "--fail-version") {
            flags |= QEBSIM_DISK_FAIL_VERSION;
        } else if (a[i] == "--fail-enable") {
            flags |= QEBSIM_DISK_FAIL_ENABLE;
        } else if (a[i] == "--fail-read") {
            flags |= QEBSIM_DISK_FAIL_READ;
        } else {
            return Usage();
        }
    }
    return qebsim::SetDiskTemperature(drive, temperature, flags) ? 0 : Fail("disk");
}

int CmdServiceControl(const std::vector<std::string>& a) {
    uint32_t code;
    if (a.size() != 2) return Usage();
    if (!qebictl::ParseNumber(a[1], &code)) return BadArg("control code", a[1]);
    SERVICE_STATUS st{};
    if (!qebsim::ServiceControl(Widen(a[0]), code, &st)) return Fail("ControlService");
    std::printf("state=%s\n", qebsim::ServiceStateName(st.dwCurrentState));
    return 0;
}

int CmdServiceStatus(const std::vector<std::string>& a) {
    if (a.size() != 1) return Usage();
    std::wstring name = Widen(a[0]);
    SERVICE_STATUS_PROCESS st{};
    if (!qebsim::ServiceQuery(name, &st)) return Fail("QueryServiceStatusEx");
    qebsim::ServiceConfig cfg;
    if (!qebsim::ServiceGetConfig(name, &cfg)) return Fail("QueryServiceConfigW");
    std::printf("state=%s\nwin32_exit_code=%lu\nservice_exit_code=%lu\npid=%lu\ncontrols_accepted=0x%lX\n"
                "service_type=0x%lX\nstart_type=%lu\naccount=%s\nbinary_path=%s\n",
                qebsim::ServiceStateName(st.dwCurrentState), static_cast<unsigned long>(st.dwWin32ExitCode),
                static_cast<unsigned long>(st.dwServiceSpecificExitCode), static_cast<unsigned long>(st.dwProcessId),
                static_cast<unsigned long>(st.dwControlsAccepted), static_cast<unsigned long>(cfg.serviceType),
                static_cast<unsigned long>(cfg.startType), Narrow(cfg.account).c_str(), Narrow(cfg.binaryPath).c_str());
    return 0;
}

// Runs a program and prints its whole exit code: a Unix shell sees only the
// low 8 bits of a Windows exit code (Tovrel's radio status word is 32 bits).
int CmdRun(const std::vector<std::string>& a) {
    if (a.empty() || a.size() > 2) return Usage();
    std::wstring line = L"\"" + Widen(a[0]) + L"\"";
    if (a.size() == 2) line += L" " + Widen(a[1]);
    std::vector<wchar_t> buffer(line.begin(), line.end());
    buffer.push_back(0);
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return Fail("CreateProcessW");
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    std::printf("exit_code=0x%08lX (%ld)\n", static_cast<unsigned long>(code), static_cast<long>(code));
    return 0;
}

struct PressOk {
    std::wstring prefix;
    HWND found;
};

BOOL CALLBACK TextStarts(HWND child, LPARAM param) {
    PressOk* p = reinterpret_cast<PressOk*>(param);
    wchar_t text[256] = {};
    GetWindowTextW(child, text, 256);
    if (std::wstring(text).compare(0, p->prefix.size(), p->prefix) != 0) return TRUE;
    p->found = child;
    return FALSE;
}

BOOL CALLBACK AnswerDialog(HWND top, LPARAM param) {
    PressOk* p = reinterpret_cast<PressOk*>(param);
    wchar_t cls[16] = {};
    GetClassNameW(top, cls, 16);
    if (!IsWindowVisible(top) || std::wcscmp(cls, L"#32770") != 0) return TRUE;
    PressOk one = {p->prefix, nullptr};
    EnumChildWindows(top, TextStarts, reinterpret_cast<LPARAM>(&one));
    if (one.found == nullptr) return TRUE;
    PostMessageW(top, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(top, IDOK)));
    p->found = top;
    std::printf("answered OK: 0x%p\n", static_cast<void*>(top));
    return TRUE;
}

// A dialog left on the screen (the resume notice, say) answered as its user
// would, so that it is gone from the next screenshot.
int CmdPressOk(const std::vector<std::string>& a) {
    if (a.size() != 1 || a[0].empty()) return Usage();
    PressOk p = {std::wstring(a[0].begin(), a[0].end()), nullptr};
    EnumWindows(AnswerDialog, reinterpret_cast<LPARAM>(&p));
    if (p.found == nullptr) {
        std::fprintf(stderr, "qebictl: no dialog shows \"%s\"\n", a[0].c_str());
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage();
    std::string cmd = argv[1];
    std::vector<std::string> a(argv + 2, argv + argc);
    if (cmd == "raise") return CmdRaise(a);
    if (cmd == "health") return CmdWord(a, qebsim::SetHealth, "health");
    if (cmd == "power-flags") return CmdWord(a, qebsim::SetPowerFlags, "power-flags");
    if (cmd == "readings") return CmdReadings(a);
    if (cmd == "feature") return CmdFeature(a);
    if (cmd == "fail-next") return CmdWord(a, qebsim::FailNext, "fail-next");
    if (cmd == "short-next") return CmdWord(a, qebsim::ShortNext, "short-next");
    if (cmd == "press-ok") return CmdPressOk(a);
    if (cmd == "short-mode") {
        if (a.size() == 1 && a[0] == "off") return qebsim::ShortMode(QEBSIM_SHORT_OFF) ? 0 : Fail("short-mode");
        return CmdWord(a, qebsim::ShortMode, "short-mode");
    }
    if (cmd == "device") {
        if (a.size() != 1 || (a[0] != "lose" && a[0] != "restore")) return Usage();
        return qebsim::SetDevicePresent(a[0] == "restore") ? 0 : Fail("device");
    }
    if (cmd == "journal") return CmdJournal(a);
    if (cmd == "clear-journal") return a.empty() ? (qebsim::ClearJournal() ? 0 : Fail("clear-journal")) : Usage();
    if (cmd == "state") return a.empty() ? CmdState() : Usage();
    if (cmd == "note") {
        if (a.size() != 1) return Usage();
        return qebsim::Note(QEBSIM_NOTE_TEST, Widen(a[0])) ? 0 : Fail("note");
    }
    if (cmd == "disk") return CmdDisk(a);
    if (cmd == "service-control") return CmdServiceControl(a);
    if (cmd == "service-status") return CmdServiceStatus(a);
    if (cmd == "run") return CmdRun(a);
    if (cmd == "help" || cmd == "--help" || cmd == "-h") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    std::fprintf(stderr, "qebictl: unknown command '%s'\n", cmd.c_str());
    return Usage();
}
