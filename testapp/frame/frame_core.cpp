#include "frame_core.h"

#include <wchar.h>

namespace tovrel {

namespace {

struct SwitchName {
    const wchar_t* text;
    Switch which;
};

// Compared in this order.
const SwitchName kSwitches[] = {
    {L"/getallstat", Switch::GetAllStat}, {L"/getallstatd", Switch::GetAllStatD},
    {L"/allon", Switch::AllOn},           {L"/alloff", Switch::AllOff},
    {L"/wlon", Switch::WlOn},             {L"/wloff", Switch::WlOff},
    {L"/bton", Switch::BtOn},             {L"/btoff", Switch::BtOff},
};

struct EventName {
    DWORD code;
    const wchar_t* name;
};

const EventName kEventNames[] = {
    {0x1001, L"Microphone mute"}, {0x1002, L"Speaker mute"}, {0x1003, L"Volume Up"},
    {0x1004, L"Volume Down"},     {0x1005, L"Thermal Alert"}, {0x1010, L"Ambient Light"},
    {0x1011, L"Brightness"},      {0x1021, L"Bluetooth"},     {0x1022, L"WIFI"},
    {0x1031, L"CAD"},             {0x1041, L"Battery"},       {0x1042, L"PC Health"},
};

const wchar_t* const kUsbS45Texts[] = {L"Disabled ", L"Enabled "};
const wchar_t* const kUsbS0Texts[] = {L"DCP mode", L"CDP mode"};
const wchar_t* const kFscModeTexts[] = {L"BA mode", L"BT mode", L"Full speed mode"};

LONG Query(QEB_GET_STATUS entry) { return entry ? entry() : kFailedCall; }
LONG Set(QEB_SET_VALUE entry, LONG value) { return entry ? entry(value) : kFailedCall; }
int FailedBit(LONG result) { return result < 0 ? 1 : 0; }

}  // namespace

Switch MatchSwitch(const wchar_t* commandLine) {
    CString text(commandLine);
    text.TrimRight();
    text.TrimLeft();
    text.MakeLower();
    if (text.IsEmpty() || text[0] != L'/') return Switch::None;
    for (const SwitchName& entry : kSwitches)
        if (text.Compare(entry.text) == 0) return entry.which;
    return Switch::None;
}

BYTE RadioByte(LONG status) {
    if (status < 0 || (status & 1) == 0) return 0x80;
    return (status & 2) ? 0x01 : 0x00;
}

DWORD RadioStatusWord(LONG btStatus, LONG wifiStatus) {
    return 0x13800000u | (static_cast<DWORD>(RadioByte(wifiStatus)) << 8) | RadioByte(btStatus);
}

CString FormatRadioStatusMessage(DWORD word) {
    CString text;
    text.Format(L"rc = 0x%08X", word);
    return text;
}

SwitchOutcome RunSwitch(Switch which, const RadioEntryPoints& ep) {
    SwitchOutcome outcome{true, 0, false, CString()};
    switch (which) {
    case Switch::None:
        outcome.exits = false;
        break;
    case Switch::GetAllStat:
    case Switch::GetAllStatD: {
        LONG bt = Query(ep.getBt);
        LONG wifi = Query(ep.getWifi);
        DWORD word = RadioStatusWord(bt, wifi);
        outcome.exitCode = static_cast<int>(word);
        if (which == Switch::GetAllStatD) {
            outcome.showMessage = true;
            outcome.message = FormatRadioStatusMessage(word);
        }
        break;
    }
    case Switch::AllOn:
    case Switch::AllOff: {
        LONG value = which == Switch::AllOn ? 1 : 0;
        int failed = FailedBit(Set(ep.setWifi, value));
        failed |= FailedBit(Set(ep.setBt, value));  // also after a failed WIFI call
        outcome.exitCode = failed;
        break;
    }
    case Switch::WlOn:
    case Switch::WlOff:
        outcome.exitCode = FailedBit(Set(ep.setWifi, which == Switch::WlOn ? 1 : 0));
        break;
    case Switch::BtOn:
    case Switch::BtOff:
        outcome.exitCode = FailedBit(Set(ep.setBt, which == Switch::BtOn ? 1 : 0));
        break;
    }
    return outcome;
}

const ListEntries kUsbS45Entries = {kUsbS45Texts, static_cast<int>(sizeof(kUsbS45Texts) / sizeof(kUsbS45Texts[0]))};
const ListEntries kUsbS0Entries = {kUsbS0Texts, static_cast<int>(sizeof(kUsbS0Texts) / sizeof(kUsbS0Texts[0]))};
const ListEntries kFscModeEntries = {kFscModeTexts, static_cast<int>(sizeof(kFscModeTexts) / sizeof(kFscModeTexts[0]))};

bool IsOwnListEntry(const ListEntries& entries, int index, const wchar_t* text) {
    if (index < 0 || index >= entries.count || !text) return false;
    return wcscmp(entries.texts[index], text) == 0;
}

const wchar_t* EventLogName(DWORD code) {
    for (const EventName& entry : kEventNames)
        if (entry.code == code) return entry.name;
    return nullptr;
}

EventRefresh RefreshForEvent(DWORD code) {
    if (code == 0x1005) return EventRefresh::Thermal;
    if (code == 0x1010) return EventRefresh::AmbientLight;
    return EventRefresh::None;
}

CString FormatEventLine(const SYSTEMTIME& time, DWORD code) {
    CString line;
    line.Format(L"%2d/%02d %2d:%02d:%02d.%03d: 0x%X", time.wDay, time.wMonth, time.wHour,
                time.wMinute, time.wSecond, time.wMilliseconds, code);
    if (const wchar_t* name = EventLogName(code)) {
        line += L" (";
        line += name;
        line += L")\r\n";
    } else {
        line += L"\r\n";
    }
    return line;
}

bool LogMustEmpty(DWORD counterAfterIncrement) { return counterAfterIncrement > kEventsPerLog; }

void EventLogBatch::Add(const SYSTEMTIME& time, DWORD code) {
    CString line = FormatEventLine(time, code);
    if (LogMustEmpty(++*m_counter)) {
        *m_counter = 0;
        m_replaceAll = true;
        m_text = line;
    } else {
        m_text += line;
    }
}

void EventLogBatch::AddDropped(DWORD count) { m_text += FormatDroppedLine(count); }

CString FormatDroppedLine(DWORD count) {
    CString line;
    line.Format(L"%lu firmware event%s dropped\r\n", static_cast<unsigned long>(count), count == 1 ? L"" : L"s");
    return line;
}

bool BatchIsOver(size_t eventsDone, LONGLONG elapsed, LONGLONG perSecond) {
    if (eventsDone >= kEventsPerBatch) return true;
    return elapsed >= perSecond / 1000 * kBatchWorkMs;
}

EventLogBatch::Write EventLogBatch::Take() {
    Write write{m_replaceAll, m_text};
    m_replaceAll = false;
    m_text.Empty();
    return write;
}

CString FormatRegistrationLine(LONG result, DWORD lastError) {
    if (result == 0) return CString(L"Event callback registered\r\n");
    CString line;
    line.Format(L"Failed to register event callback (%d)\r\n", static_cast<int>(lastError));
    return line;
}

}  // namespace tovrel
