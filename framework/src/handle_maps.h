// Temporary wrapper objects for windows and menus that have no permanent
// wrapper, kept per thread as MFC keeps them.
#pragma once
#include "afxwin.h"

namespace qebafx {

// The calling thread's temporary wrapper of a window / menu; one object per
// handle, valid until FreeTemporaryWrappers runs on that thread.
CWnd* TemporaryWindow(HWND hWnd);
CMenu* TemporaryMenu(HMENU hMenu);

// Called when the thread's outermost modal dialog has ended and from the
// application's idle time.
void FreeTemporaryWrappers();

}  // namespace qebafx
