// User-session helpers and input injection.
//
// The service runs in the services' session, where nothing it shows or types
// reaches the logged-on user. Desktop work is done by a helper copy of this
// executable, started in the active console session under the user's token
// on the interactive desktop "winsta0\default".
#include "qebevent.h"

#include <strsafe.h>

#include "service_seams.h"
#include "session_internal.h"
#include "system_library.h"
#include "user32_binding.h"

#ifndef _WIN64
static_assert(sizeof(STARTUPINFOW) == 68, "STARTUPINFOW of the 32-bit program");
#endif
static_assert(sizeof(OSVERSIONINFOW) == 276, "OSVERSIONINFOW");

// ---- pure helpers --------------------------------------------------------------

bool SasGenerationToWrite(long queryResult, DWORD type, DWORD size, DWORD value, DWORD* toWrite) {
    const DWORD kServicesMayGenerate = 1;
    if (queryResult != ERROR_SUCCESS || type != REG_DWORD || size != sizeof(DWORD)) {
        *toWrite = kServicesMayGenerate;
        return true;
    }
    if ((value & kServicesMayGenerate) != 0) return false;
    *toWrite = value | kServicesMayGenerate;
    return true;
}

// ---- handle accounting ----------------------------------------------------------

static volatile LONG HandlesHeld = 0;

LONG SessionHandlesHeld() { return InterlockedCompareExchange(&HandlesHeld, 0, 0); }

// Only for handles counted in HandlesHeld.
void CloseSessionHandle(HANDLE handle) {
    if (handle == nullptr) return;
    CloseHandle(handle);
    InterlockedDecrement(&HandlesHeld);
}

static void CountSessionHandle() { InterlockedIncrement(&HandlesHeld); }

// ---- lazily bound system functions -------------------------------------------------
//
// Looked up by name on first use and kept for the life of the process; the
// libraries are never freed. Two threads may bind at once: both store the
// same address. Each library comes from the program's folder or System32,
// never from the search path (LoadSystemLibrary).

typedef BOOL(WINAPI* WtsQueryUserTokenFn)(ULONG session, PHANDLE token);
typedef BOOL(WINAPI* CreateEnvironmentBlockFn)(LPVOID* environment, HANDLE token, BOOL inherit);
typedef BOOL(WINAPI* DestroyEnvironmentBlockFn)(LPVOID environment);
typedef VOID(WINAPI* SendSasFn)(BOOL asUser);

static void* volatile BoundWtsQueryUserToken = nullptr;
static void* volatile BoundCreateEnvironmentBlock = nullptr;
static void* volatile BoundDestroyEnvironmentBlock = nullptr;
static void* volatile BoundSendSas = nullptr;

static void* LoadSystemFunction(const wchar_t* library, const char* name) {
    HMODULE module = LoadSystemLibrary(library);
    if (module == nullptr) return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(module, name));
}

static WtsQueryUserTokenFn BindWtsQueryUserToken() {
    if (BoundWtsQueryUserToken == nullptr)
        BoundWtsQueryUserToken = LoadSystemFunction(L"WtsApi32.dll", "WTSQueryUserToken");
    return reinterpret_cast<WtsQueryUserTokenFn>(BoundWtsQueryUserToken);
}

static void BindEnvironmentFunctions() {
    if (BoundCreateEnvironmentBlock != nullptr) return;
    HMODULE module = LoadSystemLibrary(L"userenv.dll");
    if (module == nullptr) return;
    BoundDestroyEnvironmentBlock = reinterpret_cast<void*>(GetProcAddress(module, "DestroyEnvironmentBlock"));
    BoundCreateEnvironmentBlock = reinterpret_cast<void*>(GetProcAddress(module, "CreateEnvironmentBlock"));
}

static SendSasFn BindSendSas() {
    if (BoundSendSas == nullptr) BoundSendSas = LoadSystemFunction(L"sas.dll", "SendSAS");
    return reinterpret_cast<SendSasFn>(BoundSendSas);
}

// ---- launching a helper in the user's session -----------------------------------------

UserSessionLauncher UserSessionLaunchOverride = nullptr;

// The interactive desktop of the user's session: without it the helper lands
// in the service's invisible window station, its dialog unseen and its keys
// reaching no one.
static wchar_t InteractiveDesktop[] = L"winsta0\\default";

BOOL LaunchInUserSession(int mode, HANDLE* processOut, HANDLE* threadOut) {
    if (UserSessionLaunchOverride != nullptr) {
        BOOL launched = UserSessionLaunchOverride(mode, processOut, threadOut);
        if (launched && processOut != nullptr && *processOut != nullptr) CountSessionHandle();
        if (launched && threadOut != nullptr && *threadOut != nullptr) CountSessionHandle();
        return launched;
    }

    wchar_t commandLine[MAX_PATH];
    if (!BuildHelperCommandLine(mode, commandLine, MAX_PATH)) return FALSE;

    DWORD session = WTSGetActiveConsoleSessionId();
    if (session == 0xFFFFFFFFu) return FALSE;

    WtsQueryUserTokenFn queryUserToken = BindWtsQueryUserToken();
    if (queryUserToken == nullptr) return FALSE;
    HANDLE token = nullptr;
    if (!queryUserToken(session, &token)) return FALSE;
    CountSessionHandle();

    BindEnvironmentFunctions();
    auto createEnvironment = reinterpret_cast<CreateEnvironmentBlockFn>(BoundCreateEnvironmentBlock);
    auto destroyEnvironment = reinterpret_cast<DestroyEnvironmentBlockFn>(BoundDestroyEnvironmentBlock);
    void* environment = nullptr;
    if (createEnvironment != nullptr && !createEnvironment(&environment, token, FALSE)) environment = nullptr;

    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof(startup));
    startup.cb = sizeof(STARTUPINFOW);
    startup.lpDesktop = InteractiveDesktop;
    PROCESS_INFORMATION process;
    ZeroMemory(&process, sizeof(process));
    DWORD flags = environment != nullptr ? CREATE_UNICODE_ENVIRONMENT : 0;
    BOOL created = CreateProcessAsUserW(token, nullptr, commandLine, nullptr, nullptr, FALSE, flags,
                                        environment, nullptr, &startup, &process);
    if (created) {
        CountSessionHandle();
        CountSessionHandle();
        if (processOut != nullptr) {
            *processOut = process.hProcess;
        } else {
            CloseSessionHandle(process.hProcess);
        }
        if (threadOut != nullptr) {
            *threadOut = process.hThread;
        } else {
            CloseSessionHandle(process.hThread);
        }
    }

    if (environment != nullptr && destroyEnvironment != nullptr) destroyEnvironment(environment);
    CloseSessionHandle(token);
    return created;
}

// ---- volume keys ------------------------------------------------------------------------

void PressMediaKey(BYTE vk) {
    const User32Functions* user32 = BindUser32();
    if (user32 == nullptr) return;
    user32->keybd_event(vk, static_cast<BYTE>(user32->MapVirtualKeyW(vk, MAPVK_VK_TO_VSC)), KEYEVENTF_EXTENDEDKEY, 0);
    user32->keybd_event(vk, static_cast<BYTE>(user32->MapVirtualKeyW(vk, MAPVK_VK_TO_VSC)),
                        KEYEVENTF_EXTENDEDKEY | KEYEVENTF_KEYUP, 0);
}

// ---- Ctrl+Alt+Del ---------------------------------------------------------------------------

DWORD QueryOsMajorVersionFromSystem() {
    OSVERSIONINFOW version;
    ZeroMemory(&version, sizeof(version));
    version.dwOSVersionInfoSize = sizeof(version);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (!GetVersionExW(&version)) return 0;
#pragma GCC diagnostic pop
    return version.dwMajorVersion;
}

OsMajorVersionQuery QueryOsMajorVersion = QueryOsMajorVersionFromSystem;

RegistryLocation SasPolicyKey = {HKEY_LOCAL_MACHINE,
                                 L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Policies\\System"};
static const wchar_t SasGenerationValue[] = L"SoftwareSASGeneration";

// Lets services raise the secure attention sequence.
void AllowSoftwareSas() {
    HKEY key = nullptr;
    if (RegCreateKeyExW(SasPolicyKey.root, SasPolicyKey.path, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS) {
        return;
    }
    DWORD type = REG_DWORD;
    DWORD size = sizeof(DWORD);
    DWORD value = 0;
    LONG query = RegQueryValueExW(key, SasGenerationValue, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    DWORD toWrite = 0;
    if (SasGenerationToWrite(query, type, size, value, &toWrite)) {
        RegSetValueExW(key, SasGenerationValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&toWrite),
                       sizeof(toWrite));
    }
    RegCloseKey(key);
}

void SendCtrlAltDel() {
    if (QueryOsMajorVersion() < 6) {
        PostWinlogonCtrlAltDel();
        return;
    }
    // Bound before the policy is touched: Vista has no sas.dll, and a value
    // written for an action that cannot happen would change the
    // administrator's policy for nothing.
    SendSasFn sendSas = BindSendSas();
    if (sendSas == nullptr) return;
    AllowSoftwareSas();
    sendSas(FALSE);
}

static BOOL SwitchThreadDesktopWith(const User32Functions* user32, HDESK desktop) {
    BYTE name[256];
    DWORD needed = 0;
    if (!user32->GetUserObjectInformationW(desktop, UOI_NAME, name, sizeof(name), &needed)) return FALSE;
    return user32->SetThreadDesktop(desktop);
}

BOOL SwitchThreadDesktop(HDESK desktop) {
    const User32Functions* user32 = BindUser32();
    return user32 != nullptr && SwitchThreadDesktopWith(user32, desktop);
}

// "Winlogon" is a desktop of the interactive window station "WinSta0", the
// one Winlogon watches for its hot key, and OpenDesktopW finds only desktops
// of the calling process's window station. The service (not interactive)
// lives in a window station of its own, so the process is attached to
// "WinSta0" for the post. A helper already in "WinSta0" attaches to it
// again, which changes nothing.
//
// Going back is done in the one order Windows accepts: SetThreadDesktop
// refuses a desktop of a window station other than the process's, so the
// process returns to its own station first and the thread to its own desktop
// after; only then are the Winlogon desktop (no longer the thread's) and the
// interactive station closed. Otherwise the monitor thread would stay on
// "Winlogon" and each press would leave a desktop handle open.
void PostWinlogonCtrlAltDel() {
    const User32Functions* user32 = BindUser32();
    if (user32 == nullptr) return;
    HWINSTA previousStation = user32->GetProcessWindowStation();
    HDESK previousDesktop = user32->GetThreadDesktop(GetCurrentThreadId());
    if (previousStation == nullptr) return;
    HWINSTA interactive = user32->OpenWindowStationW(L"WinSta0", FALSE, MAXIMUM_ALLOWED);
    if (interactive == nullptr) return;
    if (!user32->SetProcessWindowStation(interactive)) {
        user32->CloseWindowStation(interactive);
        return;
    }
    HDESK winlogon = user32->OpenDesktopW(L"Winlogon", 0, FALSE, 0x400001CFu);
    bool switched = false;
    if (winlogon != nullptr && SwitchThreadDesktopWith(user32, winlogon)) {
        switched = true;
        user32->PostMessageW(HWND_BROADCAST, WM_HOTKEY, 0, MAKELPARAM(MOD_CONTROL | MOD_ALT, VK_DELETE));
    }
    user32->SetProcessWindowStation(previousStation);
    if (switched && previousDesktop != nullptr) SwitchThreadDesktopWith(user32, previousDesktop);
    if (winlogon != nullptr) user32->CloseDesktop(winlogon);
    user32->CloseWindowStation(interactive);
}
