// QEBEvent: user32 bound at run time, once, from System32.
#include "user32_binding.h"

#include "system_library.h"

namespace {

User32Functions Bound;
// 0 not tried, 1 being bound, 2 bound, 3 not available.
volatile LONG BindState = 0;

template <class Function>
bool BindOne(HMODULE module, const char* name, Function* slot) {
    *slot = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    return *slot != nullptr;
}

bool BindAll(User32Functions* table) {
    HMODULE user32 = LoadSystem32Library(L"user32.dll");
    if (user32 == nullptr) return false;
#define QEB_BIND_USER32(name) BindOne(user32, #name, &table->name)
    return QEB_BIND_USER32(keybd_event) && QEB_BIND_USER32(MapVirtualKeyW) && QEB_BIND_USER32(PostMessageW) &&
           QEB_BIND_USER32(GetProcessWindowStation) && QEB_BIND_USER32(OpenWindowStationW) &&
           QEB_BIND_USER32(SetProcessWindowStation) && QEB_BIND_USER32(CloseWindowStation) &&
           QEB_BIND_USER32(GetThreadDesktop) && QEB_BIND_USER32(OpenDesktopW) &&
           QEB_BIND_USER32(GetUserObjectInformationW) && QEB_BIND_USER32(SetThreadDesktop) &&
           QEB_BIND_USER32(CloseDesktop) && QEB_BIND_USER32(DialogBoxParamW) && QEB_BIND_USER32(SetTimer) &&
           QEB_BIND_USER32(SetDlgItemTextW) && QEB_BIND_USER32(EndDialog) && QEB_BIND_USER32(MessageBoxW) &&
           QEB_BIND_USER32(GetDesktopWindow);
#undef QEB_BIND_USER32
}

}  // namespace

const User32Functions* BindUser32() {
    LONG state = InterlockedCompareExchange(&BindState, 1, 0);
    if (state == 0) {
        state = BindAll(&Bound) ? 2 : 3;
        InterlockedExchange(&BindState, state);
    }
    // Another thread is binding: it is done within a few calls.
    while (state == 1) {
        Sleep(0);
        state = InterlockedCompareExchange(&BindState, 1, 1);
    }
    return state == 2 ? &Bound : nullptr;
}
