#include "handle_maps.h"

#include <map>
#include <memory>

namespace qebafx {
namespace {

struct TemporaryMaps {
    std::map<HWND, std::unique_ptr<CWnd>> windows;
    std::map<HMENU, std::unique_ptr<CMenu>> menus;
};

TemporaryMaps& ThreadMaps() {
    thread_local TemporaryMaps maps;
    return maps;
}

}  // namespace

CWnd* TemporaryWindow(HWND hWnd) {
    std::unique_ptr<CWnd>& slot = ThreadMaps().windows[hWnd];
    if (!slot) {
        slot.reset(new CWnd);
        slot->m_hWnd = hWnd;
    }
    return slot.get();
}

CMenu* TemporaryMenu(HMENU hMenu) {
    std::unique_ptr<CMenu>& slot = ThreadMaps().menus[hMenu];
    if (!slot) {
        slot.reset(new CMenu);
        slot->m_hMenu = hMenu;
    }
    return slot.get();
}

void FreeTemporaryWrappers() {
    TemporaryMaps& maps = ThreadMaps();
    // A temporary window wrapper never owns its window: detach before delete.
    for (auto& entry : maps.windows) entry.second->m_hWnd = nullptr;
    maps.windows.clear();
    maps.menus.clear();
}

}  // namespace qebafx
