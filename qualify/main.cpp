// QEBCheck: qualifies an installed QEB Firmware Feature Kit on the PC it runs
// on. Run as an administrator in the user's session:
//   QEBCheck [/auto] [/report FILE] [/wait SECONDS]
// Every check reads what it checks and changes nothing on the PC; the report
// holds the header, one line per check and the summary line.
#include <windows.h>
#include <strsafe.h>

#include <vector>

#include "automatic_checks.h"
#include "check_facts.h"
#include "command_line.h"
#include "guided_checks.h"
#include "report_output.h"
#include "system_facts.h"

using namespace qebcheck;

namespace {

void WriteError(const std::wstring& text) {
    HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    const std::string bytes = Utf8(text);
    DWORD written = 0;
    if (error != nullptr && error != INVALID_HANDLE_VALUE)
        WriteFile(error, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

std::wstring FullPath(const std::wstring& path) {
    wchar_t full[MAX_PATH] = L"";
    DWORD n = GetFullPathNameW(path.c_str(), MAX_PATH, full, nullptr);
    return n > 0 && n < MAX_PATH ? full : path;
}

std::wstring VersionOrMissing(const std::wstring& path) {
    if (!FileExists(path)) return L"missing";
    DWORD error = 0;
    std::wstring version = ReadFileVersion(path, &error);
    return version.empty() ? L"no version" : version;
}

void WriteHeader(ReportOutput& out, const OsVersion& os, const KitPlace& kit, const Options& options,
                 const std::wstring& wineVersion, const std::wstring& reportPath) {
    out.Line(L"QEBCheck 1.0.0.7: qualification of the QEB Firmware Feature Kit");
    out.Line(L"Computer: " + ComputerName());
    wchar_t line[256];
    StringCchPrintfW(line, 256, L"Windows: %lu.%lu, build %lu, service pack: %ls, %ls", (unsigned long)os.major,
                     (unsigned long)os.minor, (unsigned long)os.build,
                     os.servicePack.empty() ? L"none" : os.servicePack.c_str(),
#ifdef _WIN64
                     L"64-bit"
#else
                     RunsUnderWow64() ? L"64-bit" : L"32-bit"
#endif
    );
    out.Line(line);
    if (!wineVersion.empty())
        out.Line(L"Wine: " + wineVersion + L" (a simulated PC: what Wine lacks is SKIPped with its reason)");
    const std::wstring serviceExe = kit.serviceRegistered ? kit.serviceExe : kit.folder + L"\\QEBEvent.exe";
    out.Line(L"Kit: " + serviceExe + L" " + VersionOrMissing(serviceExe) + L", " + kit.folder + L"\\Tovrel.exe " +
             VersionOrMissing(kit.folder + L"\\Tovrel.exe") +
             (kit.serviceRegistered ? L"" : L" (no service QEBEvent registered)"));
    SYSTEMTIME now;
    GetLocalTime(&now);
    StringCchPrintfW(line, 256, L"Run: %04u-%02u-%02u %02u:%02u:%02u, administrator: %ls, %ls", now.wYear, now.wMonth,
                     now.wDay, now.wHour, now.wMinute, now.wSecond, IsAdministrator() ? L"yes" : L"no",
                     options.automaticOnly ? L"automatic checks only (/auto)" : L"automatic and guided checks");
    out.Line(line);
    if (!IsAdministrator())
        out.Line(L"Note: not an administrator: run QEBCheck from an administrator's command prompt");
    out.Line(L"Report: " + reportPath);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::vector<std::wstring> args;
    for (int i = 1; i < argc; ++i) args.push_back(argv[i]);
    Options options;
    std::wstring error;
    if (!ParseOptions(args, &options, &error)) {
        WriteError(L"QEBCheck: " + error + L"\r\n" + kUsage);
        return 2;
    }

    const OsVersion os = ReadOsVersion();
    const KitPlace kit = FindKit();
    const std::wstring wineVersion = WineVersion();
    SYSTEMTIME now;
    GetLocalTime(&now);
    const std::wstring reportPath =
        FullPath(options.reportPath.empty() ? ReportFileName(ComputerName(), now) : options.reportPath);

    ReportOutput out;
    DWORD openError = 0;
    if (!out.Open(reportPath, &openError)) {
        wchar_t code[32];
        StringCchPrintfW(code, 32, L"%lu", (unsigned long)openError);
        WriteError(L"QEBCheck: cannot create the report " + reportPath + L" (error " + code +
                   L"); name another file with /report FILE\r\n");
        return 2;
    }
    WriteHeader(out, os, kit, options, wineVersion, reportPath);

    // One at a time, each written as soon as it is known.
    CheckResult r = CheckWindowsVersion(os);
    out.Check(r.outcome, L"windows.version", r.seen);
    r = CheckServiceConfig(kit);
    out.Check(r.outcome, L"service.config", r.seen);
    r = CheckServiceRecovery();
    out.Check(r.outcome, L"service.recovery", r.seen);
    r = CheckServiceSecurity();
    out.Check(r.outcome, L"service.security", r.seen);
    r = CheckEventSource(kit);
    out.Check(r.outcome, L"eventlog.source", r.seen);
    r = CheckDeviceOpen();
    out.Check(r.outcome, L"device.open", r.seen);
    r = CheckLibraryExports(kit);
    out.Check(r.outcome, L"library.exports", r.seen);
    r = CheckHibernation(kit);
    out.Check(r.outcome, L"power.hibernate", r.seen);
    r = CheckSasBinding(kit, os);
    out.Check(r.outcome, L"sas.bind", r.seen);

    if (!options.automaticOnly) RunGuidedChecks(out, options.waitSeconds, wineVersion);
    return out.Finish();
}
