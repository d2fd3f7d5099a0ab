// Where a radio switch's time goes, outside Tovrel: a do-nothing desktop
// process (as session_noop) that also binds QEBI.dll as Tovrel does and makes
// the switch's library calls. It writes the performance counter at its entry,
// after the library's load, after the binding of the 21 entry points and
// after the calls, as four numbers, to the file named first on its command
// line:  startup_probe.exe OUTFILE /wlon|/btoff|/getallstat
#include <windows.h>

#include <stdio.h>
#include <wchar.h>

namespace {

typedef LONG(WINAPI* GetFn)(void);
typedef LONG(WINAPI* SetFn)(LONG);

const char* const kEntryPoints[21] = {
    "Get_Current_WIFI_Ratio_Status", "Set_WIFI_Ratio_Onoff", "Get_Current_BT_Ratio_Status",
    "Set_BT_Ratio_Onoff", "Get_Current_Microphone_Mute_Capability", "Set_Microphone_MuteLED",
    "Get_Current_Volume_Mute_Capability", "Set_Volume_MuteLED", "Get_Ambient_Light",
    "Brightness_Changed_Manually", "Get_Power_Meter", "Get_Thermal_Parameter", "Check_CADS_event",
    "Check_BKIT_event", "QEB_RegisterEventCallback", "QEB_UnregisterEventCallback",
    "Get_USB_Charge_Status", "Set_USB_Charge_Status", "Get_FSC_Status", "Set_FSC_Status",
    "Get_PC_Health_Status"};

LONGLONG Stamp() {
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return t.QuadPart;
}

// Next blank-separated word of *p (no quoting), into out.
bool NextWord(const wchar_t** p, wchar_t* out, size_t room) {
    while (**p == L' ' || **p == L'\t') ++*p;
    size_t n = 0;
    while (**p && **p != L' ' && **p != L'\t') {
        if (n + 1 < room) out[n++] = **p;
        ++*p;
    }
    out[n] = 0;
    return n > 0;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    LONGLONG stamps[4];
    stamps[0] = Stamp();
    if (GetSystemMetrics(SM_CXSCREEN) <= 0) return 2;  // as every desktop program, user32 in use

    const wchar_t* line = GetCommandLineW();
    if (*line == L'"') {
        ++line;
        while (*line && *line != L'"') ++line;
        if (*line) ++line;
    } else {
        while (*line && *line != L' ') ++line;
    }
    wchar_t outFile[MAX_PATH], which[32];
    if (!NextWord(&line, outFile, MAX_PATH) || !NextWord(&line, which, 32)) return 2;

    HMODULE library = LoadLibraryW(L"C:\\Program Files\\Kestil\\QEB\\QEBI.dll");
    stamps[1] = Stamp();
    if (!library) return 3;
    FARPROC slots[21];
    for (int i = 0; i < 21; ++i)
        if ((slots[i] = GetProcAddress(library, kEntryPoints[i])) == nullptr) return 4;
    stamps[2] = Stamp();

    LONG code = 0;
    if (wcscmp(which, L"/wlon") == 0) {
        code = reinterpret_cast<SetFn>(reinterpret_cast<void*>(slots[1]))(1) < 0;
    } else if (wcscmp(which, L"/btoff") == 0) {
        code = reinterpret_cast<SetFn>(reinterpret_cast<void*>(slots[3]))(0) < 0;
    } else {
        LONG bt = reinterpret_cast<GetFn>(reinterpret_cast<void*>(slots[2]))();
        LONG wifi = reinterpret_cast<GetFn>(reinterpret_cast<void*>(slots[0]))();
        code = (bt ^ wifi) & 1;  // the calls are what is timed; the word is Tovrel's business
    }
    stamps[3] = Stamp();

    FILE* out = _wfopen(outFile, L"w");
    if (!out) return 5;
    fprintf(out, "%lld %lld %lld %lld\n", stamps[0], stamps[1], stamps[2], stamps[3]);
    fclose(out);
    return static_cast<int>(code);
}
