// Does nothing but show one dialog and end once it has been painted: the
// yardstick of Tovrel's dialog start-up. Without arguments the dialog is
// its own template of the size, font and styles of Tovrel's main dialog with
// no controls; with "tovrel-template" it is Tovrel's own template (102, its
// 57 controls), read from the installed Tovrel.exe as a data file, so that
// the cost of the controls alone shows; "common-controls" also initialises
// the common controls first, as Tovrel does; "hidden" ends the process in
// the dialog's WM_INITDIALOG, before it is shown, as Tovrel's radio switches
// do (the floor of the hot key's path).
#include <windows.h>

#include <string.h>

namespace {

const UINT_PTR kEndTimer = 1;

INT_PTR CALLBACK BareProc(HWND hwnd, UINT message, WPARAM, LPARAM) {
    switch (message) {
    case WM_INITDIALOG: return TRUE;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        BeginPaint(hwnd, &ps);
        EndPaint(hwnd, &ps);
        // A timer message comes only after every waiting paint, the
        // controls' included: the dialog ends once all of it is painted.
        SetTimer(hwnd, kEndTimer, USER_TIMER_MINIMUM, nullptr);
        return TRUE;
    }
    case WM_TIMER: EndDialog(hwnd, 0); return TRUE;
    case WM_CLOSE: EndDialog(hwnd, 0); return TRUE;
    default: return FALSE;
    }
}

INT_PTR CALLBACK HiddenProc(HWND, UINT message, WPARAM, LPARAM) {
    if (message == WM_INITDIALOG) ExitProcess(0);
    return FALSE;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
    if (commandLine && strstr(commandLine, "common-controls")) {
        typedef void(WINAPI * InitFn)(void);
        HMODULE comctl = LoadLibraryW(L"comctl32.dll");
        InitFn init = comctl ? reinterpret_cast<InitFn>(reinterpret_cast<void*>(GetProcAddress(comctl, "InitCommonControls")))
                             : nullptr;
        if (!init) return 3;
        init();
    }
    HINSTANCE source = instance;
    LPCWSTR id = MAKEINTRESOURCEW(1);
    if (commandLine && strstr(commandLine, "tovrel-template")) {
        source = LoadLibraryExW(L"C:\\Program Files\\Kestil\\QEB\\Tovrel.exe", nullptr, LOAD_LIBRARY_AS_DATAFILE);
        if (!source) return 2;
        id = MAKEINTRESOURCEW(102);
    }
    const bool hidden = commandLine && strstr(commandLine, "hidden");
    return static_cast<int>(DialogBoxParamW(source, id, nullptr, hidden ? HiddenProc : BareProc, 0));
}
