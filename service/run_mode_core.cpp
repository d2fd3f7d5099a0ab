// QEBEvent: the run mode a command line selects (pure: no process state).
#include <wchar.h>

#include "qebevent.h"

int SelectRunModeFrom(const wchar_t* commandLine) {
    if (commandLine == nullptr) return RunModeService;
    // Searched in this order, case-sensitively, anywhere on the line: the
    // first switch of this list that occurs wins, not the first on the line.
    static const struct {
        const wchar_t* text;
        int mode;
    } kSwitches[] = {
        {L"-HALT", RunModeHalt},
        {L"-CAD", RunModeCad},
        {L"-VOLUMEUP", RunModeVolumeUp},
        {L"-VOLUMEDOWN", RunModeVolumeDown},
    };
    for (const auto& entry : kSwitches) {
        if (wcsstr(commandLine, entry.text) != nullptr) return entry.mode;
    }
    return RunModeService;
}
