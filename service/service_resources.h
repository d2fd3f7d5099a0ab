// QEBEvent: resource identifiers.
#pragma once

#define IDD_COUNTDOWN 100       // countdown / resume notice dialog
#define IDC_COUNTDOWN_TEXT 101  // its text line
