// QEBEvent: the user32 functions of the helper modes and of the Ctrl+Alt+Del
// post, bound at run time.
//
// The service itself shows nothing and presses nothing: only the helpers
// ("-HALT", "-CAD", "-VOLUMEUP", "-VOLUMEDOWN") and the hot-key post below
// Windows 6 use user32. Linked at load time, user32 would be loaded into
// every service process (its window station, desktop, GDI and input
// machinery: memory and handles the service never uses). Each function is
// typed from its own declaration, so the calling convention of the 32-bit
// program cannot be wrong.
#pragma once
#include <windows.h>

struct User32Functions {
    // volume keys
    decltype(&::keybd_event) keybd_event;
    decltype(&::MapVirtualKeyW) MapVirtualKeyW;
    // the Winlogon hot key
    decltype(&::PostMessageW) PostMessageW;
    decltype(&::GetProcessWindowStation) GetProcessWindowStation;
    decltype(&::OpenWindowStationW) OpenWindowStationW;
    decltype(&::SetProcessWindowStation) SetProcessWindowStation;
    decltype(&::CloseWindowStation) CloseWindowStation;
    decltype(&::GetThreadDesktop) GetThreadDesktop;
    decltype(&::OpenDesktopW) OpenDesktopW;
    decltype(&::GetUserObjectInformationW) GetUserObjectInformationW;
    decltype(&::SetThreadDesktop) SetThreadDesktop;
    decltype(&::CloseDesktop) CloseDesktop;
    // the countdown dialog and its error boxes
    decltype(&::DialogBoxParamW) DialogBoxParamW;
    decltype(&::SetTimer) SetTimer;
    decltype(&::SetDlgItemTextW) SetDlgItemTextW;
    decltype(&::EndDialog) EndDialog;
    decltype(&::MessageBoxW) MessageBoxW;
    decltype(&::GetDesktopWindow) GetDesktopWindow;
};

// Every function above from System32's user32.dll, bound on the first call
// and kept for the life of the process (the library is never freed); null,
// then and on every later call, when user32 cannot be loaded or lacks one of
// them. Safe to call from several threads at once.
const User32Functions* BindUser32();
