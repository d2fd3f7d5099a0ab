// Whether one of the dialog's library calls is still running on its thread.
// A library call may dispatch window messages while it waits (a library on
// COM or WMI does), so the dialog's own handlers can run inside it; vendor
// libraries are not re-entrant, so those handlers must not call the library
// again. The dialog asks Busy() before it calls; what cannot run now (a
// drain of the event log) is noted and run once the outermost call is over.
#pragma once

namespace tovrel {

class LibraryGate {
public:
    bool Busy() const { return m_depth != 0; }
    void Enter() { ++m_depth; }
    // Ends a call. True when it was the outermost one and a drain waited for
    // it: the caller schedules that drain now.
    bool Leave() {
        if (m_depth != 0) --m_depth;
        if (m_depth != 0 || !m_drainWaits) return false;
        m_drainWaits = false;
        return true;
    }
    // A drain was asked for while a call runs.
    void DrainWaits() { m_drainWaits = true; }

private:
    int m_depth = 0;
    bool m_drainWaits = false;
};

}  // namespace tovrel
