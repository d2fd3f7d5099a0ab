// QEBEvent: choosing the run mode from the command line.
#include <wchar.h>

#include "qebevent.h"

int SelectRunMode() { return SelectRunModeFrom(GetCommandLineW()); }
