// QEBCheck: facts read from the running system, shared by the checks and the
// report's header. Thin Win32 wrappers.
#pragma once
#include <windows.h>

#include <string>

namespace qebcheck {

struct OsVersion {
    DWORD major = 0, minor = 0, build = 0;
    WORD servicePackMajor = 0;
    std::wstring servicePack;  // "Service Pack 3", or ""
};

// The version Windows itself reports (RtlGetVersion, bound by name from
// ntdll, which every process has loaded; GetVersionExW where it is missing).
OsVersion ReadOsVersion();

// True when this 32-bit program runs on 64-bit Windows (IsWow64Process,
// bound by name: XP SP2 has it, earlier ones do not).
bool RunsUnderWow64();

// Wine's version when this runs under Wine ("8.0"), else "".
std::wstring WineVersion();

std::wstring ComputerName();
std::wstring SystemFolder();   // GetSystemDirectoryW
std::wstring WindowsFolder();  // GetWindowsDirectoryW
bool FileExists(const std::wstring& path);
bool IsAdministrator();

// "1.0.0.7" from the file's version block; "" with the error in *error.
std::wstring ReadFileVersion(const std::wstring& path, DWORD* error);

// Where the kit is: the installed service's program and its folder (from the
// service manager), or the package's default folder when no service is
// registered.
struct KitPlace {
    bool serviceRegistered = false;
    DWORD openError = 0;        // OpenServiceW's error when not registered
    std::wstring imagePath;     // as registered
    std::wstring serviceExe;    // the program of the image path
    std::wstring folder;        // its folder, or the default one
};
KitPlace FindKit();

// A library loaded by full path from where the service loads it: the
// service's own folder when the file is there, else the system folder (the
// service's rule, JoinLibraryPath of service/system_library.h); "" when no
// path fits.
std::wstring ServiceLibraryPath(const KitPlace& kit, const wchar_t* fileName);

extern const wchar_t kServiceName[];

}  // namespace qebcheck
