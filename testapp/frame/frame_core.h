// Side-effect-free pieces of the Tovrel frame: command-line switches, the
// radio status word, event log lines. The dialog applies them.
#pragma once
#include <afxwin.h>

#include "qebi_api.h"

namespace tovrel {

// ---- command line ------------------------------------------------------------

enum class Switch {
    None,  // open the dialog
    GetAllStat,
    GetAllStatD,
    AllOn,
    AllOff,
    WlOn,
    WlOff,
    BtOn,
    BtOff,
};

// Trims white space at the right, then at the left, lower-cases, and compares
// the whole text with the eight switches. Anything else, including text that
// does not begin with "/", is Switch::None.
Switch MatchSwitch(const wchar_t* commandLine);

// Radio byte of a status word: 0x80 failed or absent, 0x01 present and on,
// 0x00 present and off.
BYTE RadioByte(LONG status);

// 0x13800000 | WIFI byte << 8 | Bluetooth byte.
DWORD RadioStatusWord(LONG btStatus, LONG wifiStatus);

// Message of "/getallstatd": "rc = 0x%08X".
CString FormatRadioStatusMessage(DWORD word);

// The radio entry points a switch may call. A null entry point (library not
// bound) counts as a failing call: a query gives 0x80000000 and a setter a
// negative result, so nothing is called through a null pointer.
struct RadioEntryPoints {
    QEB_GET_STATUS getWifi;
    QEB_SET_VALUE setWifi;
    QEB_GET_STATUS getBt;
    QEB_SET_VALUE setBt;
};

constexpr LONG kFailedCall = static_cast<LONG>(0x80000000u);

struct SwitchOutcome {
    bool exits;          // false: Switch::None, open the dialog
    int exitCode;
    bool showMessage;    // "/getallstatd": show message before exiting
    CString message;
};

// Makes the switch's library calls in their order and works out the exit
// code: the radio status word for the reading switches, 1 if any setter
// returned a negative value for the setting ones (both calls of "/allon" and
// "/alloff" are always made), else 0.
SwitchOutcome RunSwitch(Switch which, const RadioEntryPoints& entryPoints);

// ---- drop-down lists ---------------------------------------------------------

// Entries of the lists, in the order the dialog adds them: the index of an
// entry is what "Set Mode" passes on.
struct ListEntries {
    const wchar_t* const* texts;
    int count;
};
extern const ListEntries kUsbS45Entries;  // list 1029
extern const ListEntries kUsbS0Entries;   // list 1030
extern const ListEntries kFscModeEntries; // list 1033

// True when text is the entry the dialog added at index: another program
// can add, insert or delete entries, and only the dialog's own stand for a
// mode.
bool IsOwnListEntry(const ListEntries& entries, int index, const wchar_t* text);

// ---- event log ---------------------------------------------------------------

// Name of a firmware event code in the log, null for codes without one.
const wchar_t* EventLogName(DWORD code);

enum class EventRefresh { None, Thermal, AmbientLight };
// The panel refreshed before an event's line is written.
EventRefresh RefreshForEvent(DWORD code);

// " 5/12 20:41:53.007: 0x1003 (Volume Up)\r\n" from the local time and code.
CString FormatEventLine(const SYSTEMTIME& time, DWORD code);

// Events counted before the log is emptied: the event that makes the counter
// exceed this replaces the whole log with its own line.
constexpr DWORD kEventsPerLog = 1000;
// counterAfterIncrement: the event counter once this event is counted.
bool LogMustEmpty(DWORD counterAfterIncrement);

// Gathers the lines of several events into as few log writes as possible.
// Each Add counts the event on the counter given at construction (the
// counter that LogMustEmpty judges) and adds its line; an event that makes
// the log empty drops the lines gathered before it, since they would be
// wiped with the rest of the log, and makes the next write replace the whole
// text. Applying every Take in order gives the log the same text as writing
// each event's line on its own.
class EventLogBatch {
public:
    explicit EventLogBatch(DWORD* eventCounter) : m_counter(eventCounter), m_replaceAll(false) {}

    void Add(const SYSTEMTIME& time, DWORD code);
    // The line saying how many events were dropped after the last one
    // added; not counted as an event.
    void AddDropped(DWORD count);
    bool IsEmpty() const { return !m_replaceAll && m_text.IsEmpty(); }

    // The text gathered since the last Take and whether it replaces the
    // whole log (else it is appended); the batch is empty afterwards.
    struct Write {
        bool replaceAll;
        CString text;
    };
    Write Take();

private:
    DWORD* m_counter;
    bool m_replaceAll;
    CString m_text;
};

// A batch of the event log ends after kEventsPerBatch events, or once about
// kBatchWorkMs of work is done: each thermal alert or ambient-light event
// reads the library, which may take tens of milliseconds, and the dialog
// must stay responsive between batches. elapsed and perSecond are in
// performance-counter counts.
constexpr size_t kEventsPerBatch = 64;
constexpr LONGLONG kBatchWorkMs = 15;
bool BatchIsOver(size_t eventsDone, LONGLONG elapsed, LONGLONG perSecond);

// "N firmware events dropped\r\n" ("1 firmware event dropped\r\n"): events
// the dialog's queue had no room for.
CString FormatDroppedLine(DWORD count);

// First log line after the registration attempt.
CString FormatRegistrationLine(LONG result, DWORD lastError);

// Longest line either formatter can produce, line end included.
// (named: "31/12 23:59:59.999: 0x1001 (Microphone mute)\r\n", 46; unnamed:
// "31/12 23:59:59.999: 0xFFFFFFFF\r\n", 32; registration failure with
// error -2147483648, 49).
constexpr UINT kLongestEventLine = 50;
constexpr UINT kLongestRegistrationLine = 52;
// "4294967295 firmware events dropped\r\n", 36.
constexpr UINT kLongestDroppedLine = 40;
// Text limit of the event log: a registration line plus 1001 event lines of
// the longest form, each followed by a dropped line at worst, the most the
// log ever holds.
constexpr UINT kEventLogTextLimit =
    kLongestRegistrationLine + (kEventsPerLog + 1) * (kLongestEventLine + kLongestDroppedLine);

}  // namespace tovrel
