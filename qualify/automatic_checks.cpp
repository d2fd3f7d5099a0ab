#include "automatic_checks.h"

#include <strsafe.h>

#include <vector>

#include "check_facts.h"
#include "health_core.h"
#include "service_dacl.h"

namespace qebcheck {

namespace {

const wchar_t kKitVersion[] = L"1.0.0.7";
const wchar_t kEventSourceKey[] = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\QEBI";
const wchar_t kDevicePath[] = L"\\\\.\\QEBI";

std::wstring ErrorText(DWORD error) { return Format(L"error %lu", static_cast<unsigned long>(error)); }

CheckResult Pass(const std::wstring& seen) { return {Outcome::Pass, seen}; }
CheckResult Fail(const std::wstring& seen) { return {Outcome::Fail, seen}; }
CheckResult Skip(const std::wstring& seen) { return {Outcome::Skip, seen}; }

// The service, opened with `access`, closed with it.
class ServiceHandle {
public:
    explicit ServiceHandle(DWORD access) {
        scm_ = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
        service_ = scm_ != nullptr ? OpenServiceW(scm_, kServiceName, access) : nullptr;
        error_ = service_ == nullptr ? GetLastError() : 0;
    }
    ~ServiceHandle() {
        if (service_ != nullptr) CloseServiceHandle(service_);
        if (scm_ != nullptr) CloseServiceHandle(scm_);
    }
    SC_HANDLE get() const { return service_; }
    DWORD error() const { return error_; }
    std::wstring Missing() const {
        if (error_ == ERROR_SERVICE_DOES_NOT_EXIST)
            return L"no service QEBEvent (error 1060): install QEBKit-1.0.0.7-x86.msi";
        if (error_ == ERROR_ACCESS_DENIED) return L"the service could not be opened (error 5): run as administrator";
        return L"the service could not be opened (" + ErrorText(error_) + L")";
    }

private:
    SC_HANDLE scm_ = nullptr;
    SC_HANDLE service_ = nullptr;
    DWORD error_ = 0;
};

std::wstring StateName(DWORD state) {
    switch (state) {
        case SERVICE_STOPPED: return L"stopped";
        case SERVICE_START_PENDING: return L"starting";
        case SERVICE_STOP_PENDING: return L"stopping";
        case SERVICE_RUNNING: return L"running";
        case SERVICE_CONTINUE_PENDING: return L"continuing";
        case SERVICE_PAUSE_PENDING: return L"pausing";
        case SERVICE_PAUSED: return L"paused";
        default: return Format(L"state %lu", static_cast<unsigned long>(state));
    }
}

std::wstring StartName(DWORD start) {
    switch (start) {
        case SERVICE_BOOT_START: return L"boot start";
        case SERVICE_SYSTEM_START: return L"system start";
        case SERVICE_AUTO_START: return L"automatic start";
        case SERVICE_DEMAND_START: return L"manual start";
        case SERVICE_DISABLED: return L"disabled";
        default: return Format(L"start type %lu", static_cast<unsigned long>(start));
    }
}

}  // namespace

CheckResult CheckWindowsVersion(const OsVersion& os) {
    std::wstring version = Format(L"Windows %lu.%lu build %lu", static_cast<unsigned long>(os.major),
                                  static_cast<unsigned long>(os.minor), static_cast<unsigned long>(os.build));
    if (!os.servicePack.empty()) version += L" " + os.servicePack;
#ifdef _WIN64
    const std::wstring bits = L"64-bit (the x64 package's Windows)";
    const bool bitsRight = true;
#else
    const bool wow64 = RunsUnderWow64();
    const std::wstring bits = wow64 ? L"64-bit" : L"32-bit";
    const bool bitsRight = !wow64;
#endif
    if (os.major == 0) return Fail(L"expected XP SP3 or later, got no version from RtlGetVersion or GetVersionExW");
    if (!WindowsVersionAccepted(os.major, os.minor, os.servicePackMajor))
        return Fail(L"expected Windows XP SP3 or later, got " + version + L": install Service Pack 3 or a later Windows");
    if (!bitsRight)
        return Fail(L"expected 32-bit Windows, got " + version + L", 64-bit (this 32-bit program runs under WOW64)");
    return Pass(version + L", " + bits);
}

CheckResult CheckServiceConfig(const KitPlace& kit) {
    ServiceHandle service(SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS);
    if (service.get() == nullptr) return Fail(L"expected the service QEBEvent, got " + service.Missing());
    DWORD needed = 0;
    QueryServiceConfigW(service.get(), nullptr, 0, &needed);
    std::vector<BYTE> buffer(needed + sizeof(QUERY_SERVICE_CONFIGW));
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    if (!QueryServiceConfigW(service.get(), config, static_cast<DWORD>(buffer.size()), &needed))
        return Fail(L"expected the service's configuration, got " + ErrorText(GetLastError()));
    SERVICE_STATUS_PROCESS status = {};
    DWORD statusSize = 0;
    const bool statusRead = QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                                                 sizeof(status), &statusSize) != FALSE;

    std::vector<std::wstring> wrong;
    const DWORD type = config->dwServiceType;
    if ((type & SERVICE_WIN32) != SERVICE_WIN32_OWN_PROCESS)
        wrong.push_back(Format(L"expected its own process (type 0x10), got type 0x%lX", static_cast<unsigned long>(type)));
    if ((type & SERVICE_INTERACTIVE_PROCESS) != 0)
        wrong.push_back(L"expected a service that is not interactive, got the interactive flag");
    if (config->dwStartType != SERVICE_AUTO_START)
        wrong.push_back(L"expected automatic start, got " + StartName(config->dwStartType));
    const std::wstring account = config->lpServiceStartName != nullptr ? config->lpServiceStartName : L"";
    if (lstrcmpiW(account.c_str(), L"LocalSystem") != 0)
        wrong.push_back(L"expected the account LocalSystem, got \"" + account + L"\"");
    std::wstring fileName = kit.serviceExe.substr(kit.serviceExe.find_last_of(L"\\/") + 1);
    std::wstring version;
    if (lstrcmpiW(fileName.c_str(), L"QEBEvent.exe") != 0) {
        wrong.push_back(L"expected the image path of QEBEvent.exe, got \"" + kit.imagePath + L"\"");
    } else if (!FileExists(kit.serviceExe)) {
        wrong.push_back(L"expected the program " + kit.serviceExe + L", got no such file");
    } else {
        DWORD error = 0;
        version = ReadFileVersion(kit.serviceExe, &error);
        if (version != kKitVersion)
            wrong.push_back(std::wstring(L"expected file version ") + kKitVersion + L", got " +
                            (version.empty() ? L"none (" + ErrorText(error) + L")" : version));
    }
    if (!statusRead)
        wrong.push_back(L"expected running, got no status (" + ErrorText(GetLastError()) + L")");
    else if (status.dwCurrentState != SERVICE_RUNNING)
        wrong.push_back(L"expected running, got " + StateName(status.dwCurrentState) +
                        Format(L" (exit code %lu): start it with \"net start QEBEvent\"",
                               static_cast<unsigned long>(status.dwWin32ExitCode)));
    if (!wrong.empty()) {
        std::wstring seen;
        for (const auto& fact : wrong) seen += (seen.empty() ? L"" : L"; ") + fact;
        return Fail(seen);
    }
    return Pass(Format(L"own process, automatic start, LocalSystem, %ls %ls, running (process %lu)",
                       kit.serviceExe.c_str(), version.c_str(), static_cast<unsigned long>(status.dwProcessId)));
}

CheckResult CheckServiceRecovery() {
    ServiceHandle service(SERVICE_QUERY_CONFIG);
    if (service.get() == nullptr) return Fail(L"expected the service's recovery, got " + service.Missing());
    DWORD needed = 0;
    if (!QueryServiceConfig2W(service.get(), SERVICE_CONFIG_FAILURE_ACTIONS, nullptr, 0, &needed) &&
        GetLastError() == ERROR_INVALID_LEVEL)
        return Skip(L"this service manager keeps no recovery actions: QueryServiceConfig2W(SERVICE_CONFIG_FAILURE_ACTIONS) "
                    L"failed with error 124 (Wine's does; Windows has them since 2000)");
    std::vector<BYTE> buffer(needed + sizeof(SERVICE_FAILURE_ACTIONSW));
    if (!QueryServiceConfig2W(service.get(), SERVICE_CONFIG_FAILURE_ACTIONS, buffer.data(),
                              static_cast<DWORD>(buffer.size()), &needed))
        return Fail(L"expected the recovery actions, got " + ErrorText(GetLastError()));
    const auto* failure = reinterpret_cast<const SERVICE_FAILURE_ACTIONSW*>(buffer.data());
    std::vector<RecoveryAction> actions;
    for (DWORD i = 0; i < failure->cActions && failure->lpsaActions != nullptr; ++i)
        actions.push_back({static_cast<DWORD>(failure->lpsaActions[i].Type), failure->lpsaActions[i].Delay});
    std::wstring seen;
    Outcome outcome = JudgeRecovery(failure->dwResetPeriod, actions, &seen);
    return {outcome, seen};
}

CheckResult CheckServiceSecurity() {
    ServiceHandle service(READ_CONTROL);
    if (service.get() == nullptr) return Fail(L"expected the service's DACL, got " + service.Missing());
    DWORD needed = 0;
    QueryServiceObjectSecurity(service.get(), DACL_SECURITY_INFORMATION, nullptr, 0, &needed);
    std::vector<BYTE> buffer(needed > 0 ? needed : 64);
    if (!QueryServiceObjectSecurity(service.get(), DACL_SECURITY_INFORMATION, buffer.data(),
                                    static_cast<DWORD>(buffer.size()), &needed))
        return Fail(L"expected the service's DACL, got " + ErrorText(GetLastError()));
    ControlRights rights = ReadControlRights(buffer.data(), buffer.size());
    // A service whose DACL holds no ACE at all could not have been opened
    // by anyone; a service manager that hands out such a DACL for a service
    // it let us open keeps no service security.
    if (rights.parsed && !rights.nullDacl && rights.aceCount == 0)
        return Skip(L"this service manager returned an empty DACL for a service it let this program open: it keeps no "
                    L"service security (Wine's enforces none); the package's descriptor is checked on Windows");
    std::wstring seen;
    Outcome outcome = JudgeControlRights(rights, &seen);
    return {outcome, seen};
}

CheckResult CheckEventSource(const KitPlace& kit) {
    HKEY key = nullptr;
    LONG opened = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kEventSourceKey, 0, KEY_QUERY_VALUE, &key);
    if (opened != ERROR_SUCCESS)
        return Fail(std::wstring(L"expected the event source QEBI under HKLM\\") + kEventSourceKey + L", got " +
                    (opened == ERROR_FILE_NOT_FOUND ? std::wstring(L"no such key") : ErrorText(opened)) +
                    L": Event Viewer would show \"The description for Event ID 1010 ... cannot be found\"; reinstall the kit");
    wchar_t value[MAX_PATH * 2] = L"";
    DWORD type = 0, size = sizeof(value) - sizeof(wchar_t);
    LONG read = RegQueryValueExW(key, L"EventMessageFile", nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(key);
    if (read != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ))
        return Fail(L"expected EventMessageFile of the source QEBI, got " +
                    (read != ERROR_SUCCESS ? ErrorText(read) : Format(L"value type %lu", static_cast<unsigned long>(type))));
    value[sizeof(value) / sizeof(value[0]) - 1] = 0;
    wchar_t expanded[MAX_PATH * 2] = L"";
    DWORD n = ExpandEnvironmentStringsW(value, expanded, MAX_PATH * 2);
    std::wstring messageFile = (n > 0 && n <= MAX_PATH * 2) ? expanded : value;
    // Several files may be named; the first is the one the service's entries
    // are looked up in.
    messageFile = messageFile.substr(0, messageFile.find(L';'));
    if (!FileExists(messageFile)) return Fail(L"expected the message file " + messageFile + L", got no such file");
    if (kit.serviceRegistered && lstrcmpiW(messageFile.c_str(), kit.serviceExe.c_str()) != 0)
        return Fail(L"expected the message file " + kit.serviceExe + L" (the service's program), got " + messageFile);
    HMODULE module = LoadLibraryExW(messageFile.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (module == nullptr)
        return Fail(L"expected the message file " + messageFile + L" to load, got " + ErrorText(GetLastError()));

    // The texts the service writes: both health changes and a detailed
    // entry (status and readings as a desktop PC in good health gives them).
    wchar_t texts[3][kServiceEventTextChars] = {};
    FormatServiceEventText(HealthChangeText(0x1042), texts[0], kServiceEventTextChars);
    FormatServiceEventText(HealthChangeText(0x1043), texts[1], kServiceEventTextChars);
    const BYTE readings[kHealthReadingsSize] = {0x2D, 0, 0x2A, 5, 0x28, 0, 0x23, 0, 0x26, 0,
                                                0x30, 0, 0x3A, 7, 0xB0, 4, 0xDC, 5, 0x78, 5};
    FormatHealthDetails(0x00000001, readings, texts[2], kHealthTextChars);
    std::wstring problem;
    for (int i = 0; i < 3 && problem.empty(); ++i) {
        wchar_t rendered[2048] = L"";
        DWORD_PTR arguments[1] = {reinterpret_cast<DWORD_PTR>(texts[i])};
        DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, module,
                                      kHealthEventId, 0, rendered, 2048, reinterpret_cast<va_list*>(arguments));
        if (length == 0) {
            problem = L"expected the text of event 1010 from " + messageFile + L", got " + ErrorText(GetLastError()) +
                      L" from FormatMessageW";
            break;
        }
        // Event Viewer shows the message as rendered; the message's own line
        // end after the text is all it may add.
        std::wstring shown(rendered, length), written(texts[i]);
        if (shown != written && shown != written + L"\r\n")
            problem = L"expected event 1010 to render as \"" + written + L"\", got \"" + shown + L"\"";
    }
    FreeLibrary(module);
    if (!problem.empty()) return Fail(problem);
    return Pass(L"source QEBI, message file " + messageFile +
                L"; the health-change entries and a detailed entry render as the service writes them");
}

CheckResult CheckDeviceOpen() {
    HANDLE device = CreateFileW(kDevicePath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (device == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        return Fail(L"expected \\\\.\\QEBI to open, got " + ErrorText(error) +
                    (error == ERROR_FILE_NOT_FOUND ? L": the platform driver is not installed or not running" : L""));
    }
    CloseHandle(device);
    return Pass(L"\\\\.\\QEBI opened for reading and writing");
}

CheckResult CheckLibraryExports(const KitPlace& kit) {
    static const char* const kEntryPoints[] = {
        "Get_Current_WIFI_Ratio_Status", "Set_WIFI_Ratio_Onoff", "Get_Current_BT_Ratio_Status",
        "Set_BT_Ratio_Onoff", "Get_Current_Microphone_Mute_Capability", "Set_Microphone_MuteLED",
        "Get_Current_Volume_Mute_Capability", "Set_Volume_MuteLED", "Get_Ambient_Light",
        "Brightness_Changed_Manually", "Get_Power_Meter", "Get_Thermal_Parameter", "Check_CADS_event",
        "Check_BKIT_event", "QEB_RegisterEventCallback", "QEB_UnregisterEventCallback", "Get_USB_Charge_Status",
        "Set_USB_Charge_Status", "Get_FSC_Status", "Set_FSC_Status", "Get_PC_Health_Status"};
    const unsigned total = sizeof(kEntryPoints) / sizeof(kEntryPoints[0]);
    // Tovrel loads "QEBI.dll" by its bare name with its own folder as the
    // DLL directory: its folder, the system folders, then PATH.
    wchar_t pathVariable[4096] = L"";
    DWORD n = GetEnvironmentVariableW(L"PATH", pathVariable, 4096);
    if (n >= 4096) pathVariable[0] = 0;
    const std::wstring searchPath = DllSearchPath(kit.folder, SystemFolder(), WindowsFolder(), pathVariable);
    wchar_t found[MAX_PATH] = L"";
    DWORD length = SearchPathW(searchPath.c_str(), L"QEBI.dll", nullptr, MAX_PATH, found, nullptr);
    if (length == 0 || length >= MAX_PATH)
        return Fail(L"expected QEBI.dll where Tovrel finds it (" + kit.folder +
                    L", the system folders, PATH), got none: install the platform's feature library");
    HMODULE library = LoadLibraryExW(found, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (library == nullptr)
        return Fail(std::wstring(L"expected ") + found + L" to load, got " + ErrorText(GetLastError()));
    std::wstring missing;
    unsigned exported = 0;
    for (const char* name : kEntryPoints) {
        if (GetProcAddress(library, name) != nullptr) {
            ++exported;
            continue;
        }
        std::wstring wide;
        for (const char* p = name; *p; ++p) wide += static_cast<wchar_t>(*p);
        missing += (missing.empty() ? L"" : L", ") + wide;
    }
    FreeLibrary(library);
    if (exported != total)
        return Fail(Format(L"expected %u entry points in %ls, got %u; missing: %ls", total, found, exported,
                           missing.c_str()));
    return Pass(Format(L"%ls loaded, all %u entry points exported", found, total));
}

CheckResult CheckHibernation(const KitPlace& kit) {
    const std::wstring path = ServiceLibraryPath(kit, L"PowrProf.dll");
    HMODULE library = LoadLibraryW(path.c_str());
    if (library == nullptr) return Fail(L"expected " + path + L" to load, got " + ErrorText(GetLastError()));
    typedef BOOLEAN(WINAPI * IsPwrHibernateAllowedFn)(void);
    auto allowed = reinterpret_cast<IsPwrHibernateAllowedFn>(
        reinterpret_cast<void*>(GetProcAddress(library, "IsPwrHibernateAllowed")));
    CheckResult result;
    if (allowed == nullptr)
        result = Fail(L"expected IsPwrHibernateAllowed in " + path + L", got " + ErrorText(GetLastError()));
    else if (allowed())
        result = Pass(L"hibernation allowed (IsPwrHibernateAllowed of " + path + L")");
    else
        result = Fail(L"expected hibernation allowed, got IsPwrHibernateAllowed() FALSE: after a power loss the PC "
                      L"would lose its power with the user's work; turn hibernation on with \"powercfg /hibernate on\" "
                      L"as administrator");
    FreeLibrary(library);
    return result;
}

CheckResult CheckSasBinding(const KitPlace& kit, const OsVersion& os) {
    if (os.major < 6)
        return Skip(Format(L"Windows %lu.%lu has no SendSAS: the service posts the Winlogon hot key instead",
                           static_cast<unsigned long>(os.major), static_cast<unsigned long>(os.minor)));
    const std::wstring path = ServiceLibraryPath(kit, L"sas.dll");
    if (!FileExists(path)) {
        if (os.major == 6 && os.minor == 0)
            return Skip(L"Windows 6.0 (Vista) has no sas.dll: SendSAS came with Windows 7, and the Ctrl+Alt+Del "
                        L"button does nothing on this Windows");
        return Fail(L"expected SendSAS in sas.dll, got no sas.dll in " + kit.folder + L" or " + SystemFolder());
    }
    HMODULE library = LoadLibraryW(path.c_str());
    if (library == nullptr) return Fail(L"expected " + path + L" to load, got " + ErrorText(GetLastError()));
    // Bound only, never called: calling it would raise Ctrl+Alt+Del.
    const bool bound = GetProcAddress(library, "SendSAS") != nullptr;
    const DWORD error = GetLastError();
    FreeLibrary(library);
    if (!bound) return Fail(L"expected SendSAS in " + path + L", got " + ErrorText(error));
    return Pass(L"SendSAS bound from " + path + L", where the service binds it");
}

}  // namespace qebcheck
