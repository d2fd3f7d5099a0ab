// Applies a render step's enable/disable decision to the dialog's controls.
#pragma once
#include <afxwin.h>

#include "panel_render.h"
#include "panel_sequence.h"

namespace tovrel {

inline void ApplyChange(CWnd& control, ControlChange change) {
    if (change != ControlChange::Leave) control.EnableWindow(change == ControlChange::Enable);
}

inline void ApplyChange(CWnd& dialog, int id, ControlChange change) {
    if (change == ControlChange::Leave) return;
    if (CWnd* item = dialog.GetDlgItem(id)) item->EnableWindow(change == ControlChange::Enable);
}

}  // namespace tovrel
