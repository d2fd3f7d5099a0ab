#include "system_facts.h"

#include <strsafe.h>

#include <vector>

#include "check_facts.h"
#include "system_library.h"

namespace qebcheck {

const wchar_t kServiceName[] = L"QEBEvent";

namespace {

FARPROC Bound(const wchar_t* loadedModule, const char* name) {
    HMODULE module = GetModuleHandleW(loadedModule);
    return module != nullptr ? GetProcAddress(module, name) : nullptr;
}

}  // namespace

OsVersion ReadOsVersion() {
    OsVersion version;
    typedef LONG(WINAPI * RtlGetVersionFn)(OSVERSIONINFOEXW*);
    auto rtlGetVersion = reinterpret_cast<RtlGetVersionFn>(reinterpret_cast<void*>(Bound(L"ntdll.dll", "RtlGetVersion")));
    OSVERSIONINFOEXW info = {};
    info.dwOSVersionInfoSize = sizeof(info);
    bool ok = rtlGetVersion != nullptr && rtlGetVersion(&info) == 0;
    if (!ok) ok = GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info)) != FALSE;
    if (!ok) return version;
    version.major = info.dwMajorVersion;
    version.minor = info.dwMinorVersion;
    version.build = info.dwBuildNumber;
    version.servicePackMajor = info.wServicePackMajor;
    version.servicePack = info.szCSDVersion;
    return version;
}

bool RunsUnderWow64() {
    typedef BOOL(WINAPI * IsWow64ProcessFn)(HANDLE, BOOL*);
    auto isWow64 = reinterpret_cast<IsWow64ProcessFn>(reinterpret_cast<void*>(Bound(L"kernel32.dll", "IsWow64Process")));
    BOOL wow64 = FALSE;
    return isWow64 != nullptr && isWow64(GetCurrentProcess(), &wow64) && wow64;
}

std::wstring WineVersion() {
    typedef const char*(__cdecl * WineGetVersionFn)(void);
    auto wineGetVersion = reinterpret_cast<WineGetVersionFn>(reinterpret_cast<void*>(Bound(L"ntdll.dll", "wine_get_version")));
    if (wineGetVersion == nullptr) return L"";
    const char* text = wineGetVersion();
    std::wstring version;
    for (int i = 0; text != nullptr && text[i] != 0 && i < 32; ++i) version += static_cast<wchar_t>(text[i]);
    return version.empty() ? L"?" : version;
}

std::wstring ComputerName() {
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = L"";
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    if (!GetComputerNameW(name, &size)) return L"";
    return name;
}

std::wstring SystemFolder() {
    wchar_t folder[MAX_PATH] = L"";
    UINT n = GetSystemDirectoryW(folder, MAX_PATH);
    return n > 0 && n < MAX_PATH ? folder : L"";
}

std::wstring WindowsFolder() {
    wchar_t folder[MAX_PATH] = L"";
    UINT n = GetWindowsDirectoryW(folder, MAX_PATH);
    return n > 0 && n < MAX_PATH ? folder : L"";
}

bool FileExists(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool IsAdministrator() {
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID administrators = nullptr;
    if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                  &administrators))
        return false;
    BOOL member = FALSE;
    if (!CheckTokenMembership(nullptr, administrators, &member)) member = FALSE;
    FreeSid(administrators);
    return member != FALSE;
}

std::wstring ReadFileVersion(const std::wstring& path, DWORD* error) {
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    if (size == 0) {
        *error = GetLastError();
        return L"";
    }
    std::vector<BYTE> block(size);
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT fixedSize = 0;
    if (!GetFileVersionInfoW(path.c_str(), 0, size, block.data()) ||
        !VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &fixedSize) || fixed == nullptr ||
        fixedSize < sizeof(VS_FIXEDFILEINFO)) {
        *error = GetLastError();
        return L"";
    }
    return FileVersionText(fixed->dwFileVersionMS, fixed->dwFileVersionLS);
}

KitPlace FindKit() {
    KitPlace kit;
    SC_HANDLE scm = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = scm != nullptr ? OpenServiceW(scm, kServiceName, SERVICE_QUERY_CONFIG) : nullptr;
    if (service == nullptr) kit.openError = GetLastError();
    if (service != nullptr) {
        DWORD needed = 0;
        QueryServiceConfigW(service, nullptr, 0, &needed);
        std::vector<BYTE> buffer(needed + sizeof(QUERY_SERVICE_CONFIGW));
        auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
        if (QueryServiceConfigW(service, config, static_cast<DWORD>(buffer.size()), &needed) &&
            config->lpBinaryPathName != nullptr) {
            kit.serviceRegistered = true;
            kit.imagePath = config->lpBinaryPathName;
            kit.serviceExe = ImagePathProgram(kit.imagePath);
            kit.folder = FolderOf(kit.serviceExe);
        } else {
            kit.openError = GetLastError();
        }
        CloseServiceHandle(service);
    }
    if (scm != nullptr) CloseServiceHandle(scm);
    if (kit.folder.empty()) {
        wchar_t programFiles[MAX_PATH] = L"";
        DWORD n = GetEnvironmentVariableW(L"ProgramFiles", programFiles, MAX_PATH);
        if (n == 0 || n >= MAX_PATH) StringCchCopyW(programFiles, MAX_PATH, L"C:\\Program Files");
        kit.folder = std::wstring(programFiles) + L"\\Kestil\\QEB";
    }
    return kit;
}

std::wstring ServiceLibraryPath(const KitPlace& kit, const wchar_t* fileName) {
    // The service's own rule (service/system_library.h), from its folder.
    wchar_t path[MAX_PATH * 2];
    if (JoinLibraryPath(kit.folder.c_str(), fileName, path, ARRAYSIZE(path)) && FileExists(path)) return path;
    if (JoinLibraryPath(SystemFolder().c_str(), fileName, path, ARRAYSIZE(path))) return path;
    return L"";
}

}  // namespace qebcheck
