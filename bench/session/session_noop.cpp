// Does nothing but what every program on the desktop does: loads user32 and
// makes one call into it. The yardstick of a helper launch: the cheapest
// desktop process a launch in the user's session can start.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return GetSystemMetrics(SM_CXSCREEN) > 0 ? 0 : 1; }
