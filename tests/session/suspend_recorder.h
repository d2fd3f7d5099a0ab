// Every unit test binary that links the service's power code answers the
// lookup of SetSuspendState with a recorder (suspend_recorder.cpp), so that
// no unit test can hibernate the machine it runs on (under Wine the call only
// returns, on Windows it would suspend the PC).
#pragma once
#include <windows.h>

namespace qebtest {

// SetSuspendState calls made through the service's power library since the
// start of the test program.
LONG SuspendCalls();
// Each call returns only once `resume` is signalled (at most 30 s), as a
// hibernation returns after the resume; nullptr: at once (the start).
void HoldSuspendUntil(HANDLE resume);
// The result and last error the recorder answers with (TRUE, 0 at start).
void SetSuspendAnswer(BOOLEAN result, DWORD error);

}  // namespace qebtest
