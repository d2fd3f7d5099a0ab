// Client of the simulated platform; see qebsim/client.h.
#include <cstdio>
#include "qebsim/client.h"

#include <cstring>

namespace qebsim {
namespace {

// Closes a handle on every path.
struct Handle {
    HANDLE h;
    explicit Handle(HANDLE handle) : h(handle) {}
    ~Handle() {
        if (h != INVALID_HANDLE_VALUE && h != nullptr) CloseHandle(h);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
};

struct ScHandle {
    SC_HANDLE h;
    explicit ScHandle(SC_HANDLE handle) : h(handle) {}
    ~ScHandle() {
        if (h) CloseServiceHandle(h);
    }
    ScHandle(const ScHandle&) = delete;
    ScHandle& operator=(const ScHandle&) = delete;
};

bool SendWord(DWORD code, uint32_t value) {
    return ControlRequest(code, &value, sizeof(value), nullptr, 0);
}

// Opens a service with `access`; the manager handle lives as long as the result.
struct OpenedService {
    ScHandle manager;
    ScHandle service;
    OpenedService(const std::wstring& name, DWORD access)
        : manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT)),
          service(manager.h ? OpenServiceW(manager.h, name.c_str(), access) : nullptr) {}
};

}  // namespace

bool ControlRequest(DWORD code, const void* in, DWORD inLen, void* out, DWORD outLen,
                    DWORD* returned) {
    Handle dev(CreateFileW(QEBSIM_CONTROL_PATH, GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
    if (dev.h == INVALID_HANDLE_VALUE) return false;
    DWORD got = 0;
    BOOL ok = DeviceIoControl(dev.h, code, const_cast<void*>(in), inLen, out, outLen, &got, nullptr);
    DWORD err = GetLastError();
    if (returned) *returned = got;
    SetLastError(ok ? 0 : err);
    return ok != FALSE;
}

bool RaiseEvent(uint32_t code, QEBSIM_RAISE_RESULT* result) {
    QEBSIM_RAISE_RESULT local{};
    QEBSIM_RAISE_RESULT* out = result ? result : &local;
    return ControlRequest(QEBSIM_IOCTL_RAISE_EVENT, &code, sizeof(code), out, sizeof(*out));
}

bool SetHealth(uint32_t healthStatus) { return SendWord(QEBSIM_IOCTL_SET_HEALTH, healthStatus); }
bool SetPowerFlags(uint32_t flags) { return SendWord(QEBSIM_IOCTL_SET_POWER_FLAGS, flags); }
bool FailNext(uint32_t count) { return SendWord(QEBSIM_IOCTL_FAIL_NEXT, count); }
bool ShortNext(uint32_t bytes) { return SendWord(QEBSIM_IOCTL_SHORT_NEXT, bytes); }
bool ShortMode(uint32_t bytes) { return SendWord(QEBSIM_IOCTL_SHORT_MODE, bytes); }
bool SetDevicePresent(bool present) { return SendWord(QEBSIM_IOCTL_DEVICE_PRESENT, present ? 1u : 0u); }

bool SetReadings(const uint8_t readings[20]) {
    return ControlRequest(QEBSIM_IOCTL_SET_READINGS, readings, 20, nullptr, 0);
}

bool SetFeature(uint32_t index, int32_t value) {
    QEBSIM_FEATURE_VALUE fv{index, value};
    return ControlRequest(QEBSIM_IOCTL_SET_FEATURE, &fv, sizeof(fv), nullptr, 0);
}

bool GetState(QEBSIM_STATE* state) {
    return ControlRequest(QEBSIM_IOCTL_GET_STATE, nullptr, 0, state, sizeof(*state));
}

bool Note(uint32_t source, const std::wstring& text) {
    std::vector<uint8_t> buf(sizeof(uint32_t) + text.size() * sizeof(wchar_t));
    std::memcpy(buf.data(), &source, sizeof(source));
    if (!text.empty()) std::memcpy(buf.data() + sizeof(source), text.data(), text.size() * sizeof(wchar_t));
    return ControlRequest(QEBSIM_IOCTL_NOTE, buf.data(), static_cast<DWORD>(buf.size()), nullptr, 0);
}

bool SetDisk(const QEBSIM_DISK_CONFIG& config) {
    return ControlRequest(QEBSIM_IOCTL_SET_DISK, &config, sizeof(config), nullptr, 0);
}

void BuildSmartData(uint8_t sector[512], int temperature) {
    std::memset(sector, 0, 512);
    sector[0] = 0x10;  // data structure revision
    uint8_t* entry = sector + 2;
    // Attribute 9, power-on hours: 1234.
    entry[0] = 9;
    entry[1] = 0x32;
    entry[3] = 100;
    entry[4] = 100;
    entry[5] = 1234 & 0xFF;
    entry[6] = 1234 >> 8;
    if (temperature >= 0) {
        entry += 12;
        entry[0] = 0xC2;
        entry[1] = 0x22;
        entry[3] = 100;
        entry[4] = 100;
        entry[5] = static_cast<uint8_t>(temperature);
    }
}

bool SetDiskTemperature(uint32_t drive, int temperature, uint32_t extraFlags) {
    QEBSIM_DISK_CONFIG cfg{};
    cfg.drive = drive;
    cfg.flags = QEBSIM_DISK_PRESENT | extraFlags;
    BuildSmartData(cfg.smart_data, temperature);
    return SetDisk(cfg);
}

bool RemoveDisk(uint32_t drive) {
    QEBSIM_DISK_CONFIG cfg{};
    cfg.drive = drive;
    return SetDisk(cfg);
}

bool ReadJournal(uint32_t fromSeq, std::vector<QEBSIM_RECORD>* records,
                 QEBSIM_JOURNAL_HEADER* header) {
    const DWORD chunk = 256;
    std::vector<uint8_t> buf(sizeof(QEBSIM_JOURNAL_HEADER) + chunk * sizeof(QEBSIM_RECORD));
    records->clear();
    uint32_t from = fromSeq;
    bool first = true;
    for (;;) {
        DWORD got = 0;
        if (!ControlRequest(QEBSIM_IOCTL_READ_JOURNAL, &from, sizeof(from), buf.data(),
                            static_cast<DWORD>(buf.size()), &got))
            return false;
        QEBSIM_JOURNAL_HEADER hdr;
        std::memcpy(&hdr, buf.data(), sizeof(hdr));
        if (first && header) *header = hdr;
        first = false;
        const uint8_t* p = buf.data() + sizeof(hdr);
        for (uint32_t i = 0; i < hdr.count; ++i) {
            QEBSIM_RECORD r;
            std::memcpy(&r, p + i * sizeof(QEBSIM_RECORD), sizeof(r));
            records->push_back(r);
        }
        if (hdr.count < chunk) break;
        from = records->back().seq + 1;
    }
    SetLastError(0);
    return true;
}

bool ClearJournal() { return ControlRequest(QEBSIM_IOCTL_CLEAR_JOURNAL, nullptr, 0, nullptr, 0); }

uint32_t NextSeq() {
    QEBSIM_STATE s{};
    return GetState(&s) ? s.journal_next_seq : 0;
}

bool WaitForJournal(uint32_t fromSeq, const std::function<bool(const QEBSIM_RECORD&)>& pred,
                    DWORD timeoutMs, QEBSIM_RECORD* found) {
    const ULONGLONG start = GetTickCount64();
    uint32_t from = fromSeq;
    std::vector<QEBSIM_RECORD> records;
    for (;;) {
        if (ReadJournal(from, &records)) {
            for (const QEBSIM_RECORD& r : records) {
                if (pred(r)) {
                    if (found) *found = r;
                    SetLastError(0);
                    return true;
                }
            }
            if (!records.empty()) from = records.back().seq + 1;
        }
        if (GetTickCount64() - start >= timeoutMs) break;
        Sleep(10);
    }
    SetLastError(WAIT_TIMEOUT);
    return false;
}

std::wstring NoteText(const QEBSIM_RECORD& record) {
    return std::wstring(reinterpret_cast<const wchar_t*>(record.data), record.data_len / sizeof(wchar_t));
}

bool ServiceInstall(const std::wstring& name, const std::wstring& binaryPath, DWORD serviceType,
                    DWORD startType) {
    ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE));
    if (!manager.h) return false;
    ScHandle service(CreateServiceW(manager.h, name.c_str(), name.c_str(), SERVICE_ALL_ACCESS,
                                    serviceType, startType, SERVICE_ERROR_NORMAL, binaryPath.c_str(),
                                    nullptr, nullptr, nullptr, nullptr, nullptr));
    return service.h != nullptr;
}

bool ServiceStart(const std::wstring& name) {
    OpenedService s(name, SERVICE_START);
    return s.service.h && StartServiceW(s.service.h, 0, nullptr);
}

bool ServiceStop(const std::wstring& name) {
    if (ServiceControl(name, SERVICE_CONTROL_STOP)) return true;
    // Wine's service manager answers ERROR_BROKEN_PIPE when the service's
    // process ended, as the stop asked, before the manager read its reply:
    // the stop was delivered.
    if (GetLastError() == ERROR_BROKEN_PIPE) {
        SetLastError(ERROR_SUCCESS);
        return true;
    }
    return false;
}

bool ServiceDelete(const std::wstring& name) {
    OpenedService s(name, DELETE);
    return s.service.h && DeleteService(s.service.h);
}

bool ServiceQuery(const std::wstring& name, SERVICE_STATUS_PROCESS* status) {
    OpenedService s(name, SERVICE_QUERY_STATUS);
    DWORD needed = 0;
    return s.service.h && QueryServiceStatusEx(s.service.h, SC_STATUS_PROCESS_INFO,
                                               reinterpret_cast<LPBYTE>(status), sizeof(*status), &needed);
}

bool ServiceGetConfig(const std::wstring& name, ServiceConfig* config) {
    OpenedService s(name, SERVICE_QUERY_CONFIG);
    if (!s.service.h) return false;
    DWORD needed = 0;
    QueryServiceConfigW(s.service.h, nullptr, 0, &needed);
    if (needed == 0) return false;
    std::vector<uint8_t> buf(needed);
    auto* qc = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buf.data());
    if (!QueryServiceConfigW(s.service.h, qc, needed, &needed)) return false;
    config->serviceType = qc->dwServiceType;
    config->startType = qc->dwStartType;
    config->binaryPath = qc->lpBinaryPathName ? qc->lpBinaryPathName : L"";
    config->account = qc->lpServiceStartName ? qc->lpServiceStartName : L"";
    return true;
}

bool ServiceControl(const std::wstring& name, DWORD control, SERVICE_STATUS* status) {
    DWORD access = SERVICE_USER_DEFINED_CONTROL | SERVICE_INTERROGATE;
    if (control == SERVICE_CONTROL_STOP) access = SERVICE_STOP;
    else if (control == SERVICE_CONTROL_PAUSE || control == SERVICE_CONTROL_CONTINUE) access = SERVICE_PAUSE_CONTINUE;
    OpenedService s(name, access);
    SERVICE_STATUS local{};
    return s.service.h && ControlService(s.service.h, control, status ? status : &local);
}

bool ServiceWaitState(const std::wstring& name, DWORD state, DWORD timeoutMs,
                      SERVICE_STATUS_PROCESS* last) {
    const ULONGLONG start = GetTickCount64();
    SERVICE_STATUS_PROCESS st{};
    for (;;) {
        if (ServiceQuery(name, &st) && st.dwCurrentState == state) {
            if (last) *last = st;
            SetLastError(0);
            return true;
        }
        if (GetTickCount64() - start >= timeoutMs) break;
        Sleep(20);
    }
    if (last) *last = st;
    SetLastError(WAIT_TIMEOUT);
    return false;
}

const char* ServiceStateName(DWORD state) {
    switch (state) {
    case SERVICE_STOPPED: return "STOPPED";
    case SERVICE_START_PENDING: return "START_PENDING";
    case SERVICE_STOP_PENDING: return "STOP_PENDING";
    case SERVICE_RUNNING: return "RUNNING";
    case SERVICE_CONTINUE_PENDING: return "CONTINUE_PENDING";
    case SERVICE_PAUSE_PENDING: return "PAUSE_PENDING";
    case SERVICE_PAUSED: return "PAUSED";
    default: return "UNKNOWN";
    }
}

}  // namespace qebsim
