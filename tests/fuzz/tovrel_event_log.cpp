// The command-line switch of any text, the event-log line of any time and
// code, the dropped-events line, and the log batch against writing each line
// on its own.
#include <wctype.h>

#include <string>
#include <vector>

#include "frame_core.h"
#include "fuzz_check.h"

using namespace tovrel;

namespace {

bool Blank(wchar_t c) { return iswspace(c) != 0; }

// The switches as the program documents them: trimmed, lower-cased, whole.
Switch ModelSwitch(std::wstring text) {
    while (!text.empty() && Blank(text.back())) text.pop_back();
    size_t first = 0;
    while (first < text.size() && Blank(text[first])) ++first;
    text.erase(0, first);
    for (wchar_t& c : text) c = static_cast<wchar_t>(towlower(c));
    static const struct { const wchar_t* text; Switch which; } kNames[] = {
        {L"/getallstat", Switch::GetAllStat}, {L"/getallstatd", Switch::GetAllStatD}, {L"/allon", Switch::AllOn},
        {L"/alloff", Switch::AllOff}, {L"/wlon", Switch::WlOn}, {L"/wloff", Switch::WlOff},
        {L"/bton", Switch::BtOn}, {L"/btoff", Switch::BtOff}};
    for (const auto& n : kNames)
        if (text == n.text) return n.which;
    return Switch::None;
}

SYSTEMTIME TakeTime(FuzzInput& in, bool valid) {
    SYSTEMTIME t{};
    t.wYear = in.Word();
    t.wMonth = in.Word();
    t.wDay = in.Word();
    t.wHour = in.Word();
    t.wMinute = in.Word();
    t.wSecond = in.Word();
    t.wMilliseconds = in.Word();
    if (valid) {  // what GetLocalTime can give
        t.wMonth = t.wMonth % 12 + 1;
        t.wDay = t.wDay % 31 + 1;
        t.wHour %= 24;
        t.wMinute %= 60;
        t.wSecond %= 60;
        t.wMilliseconds %= 1000;
    }
    return t;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    const std::wstring commandLine = in.WideString(64);
    const Switch got = MatchSwitch(commandLine.c_str());
    FUZZ_CHECK(got == ModelSwitch(commandLine), "switch %d for a line of %zu chars", static_cast<int>(got),
               commandLine.size());

    const LONG result = static_cast<LONG>(in.Dword());
    const CString registration = FormatRegistrationLine(result, in.Dword());
    FUZZ_CHECK(registration.GetLength() <= static_cast<int>(kLongestRegistrationLine), "registration line %d chars",
               registration.GetLength());

    // Events: each line on its own against the batches, both through the
    // rule that empties the log.
    DWORD counterAlone = in.Dword() % (kEventsPerLog + 2), counterBatch = counterAlone;
    EventLogBatch batch(&counterBatch);
    CString alone(L"start\r\n"), batched(alone);
    while (!in.Empty()) {
        const uint8_t op = in.Byte();
        if (op % 5 == 0) {
            EventLogBatch::Write w = batch.Take();
            batched = w.replaceAll ? w.text : batched + w.text;
            FUZZ_CHECK(batch.IsEmpty(), "batch not empty after Take");
            continue;
        }
        if (op % 5 == 1 && (op & 0x40) != 0) {  // events the queue had no room for
            const DWORD count = in.Dword();
            const CString line = FormatDroppedLine(count);
            const std::wstring want =
                std::to_wstring(count) + (count == 1 ? L" firmware event dropped\r\n" : L" firmware events dropped\r\n");
            FUZZ_CHECK(std::wstring(static_cast<const wchar_t*>(line)) == want, "dropped line for %u", count);
            FUZZ_CHECK(line.GetLength() <= static_cast<int>(kLongestDroppedLine), "dropped line of %d chars",
                       line.GetLength());
            alone += line;
            batch.AddDropped(count);
            continue;
        }
        const SYSTEMTIME time = TakeTime(in, (op & 0x80) == 0);
        const DWORD code = in.Dword();
        const CString line = FormatEventLine(time, code);
        FUZZ_CHECK(line.GetLength() > 2 && line.Right(2) == L"\r\n", "line without its end");
        if ((op & 0x80) == 0)
            FUZZ_CHECK(line.GetLength() <= static_cast<int>(kLongestEventLine), "line of %d chars",
                       line.GetLength());
        FUZZ_CHECK((EventLogName(code) != nullptr) == (line.Find(L'(') >= 0), "name of 0x%X", code);
        if (LogMustEmpty(++counterAlone)) {
            counterAlone = 0;
            alone = line;
        } else {
            alone += line;
        }
        batch.Add(time, code);
        FUZZ_CHECK(counterAlone == counterBatch, "counters %u and %u", counterAlone, counterBatch);
    }
    EventLogBatch::Write w = batch.Take();
    batched = w.replaceAll ? w.text : batched + w.text;
    FUZZ_CHECK(batched == alone, "batched log of %d chars, line by line %d", batched.GetLength(),
               alone.GetLength());
    return 0;
}
