// Pure pieces of the soak driver: the event-log line count Tovrel must show,
// the growth of a sampled resource, the codes the random mix draws from.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace soak {

// Event lines Tovrel's log holds after `delivered` callbacks: the log grows
// one line per event and is emptied by the 1001st event since start-up or
// since the last emptying, which then stands alone.
uint64_t ExpectedLogLines(uint64_t delivered);

// Samples of one resource of one process, one every ten seconds.
struct Growth {
    bool judged = false;  // enough samples after the warm-up
    long long from = 0;   // mean of the first samples after the warm-up
    long long to = 0;     // mean of the last samples
};
// Compares the mean of the first k samples with the mean of the last k,
// k = min(3, n / 2); needs at least 2 samples.
Growth Judge(const std::vector<long long>& samples);

// Firmware event codes of the random mix: every code the kit knows (no
// power loss: that one runs its own sequence) and codes it does not know.
struct CodeWeight {
    uint32_t code;
    unsigned weight;      // in the steady mix
    bool inBurst;         // allowed in a burst of 1,000 (no helper, no disk scan)
};
const std::vector<CodeWeight>& EventMix();

// Code of the last line of Tovrel's log ("dd/mm hh:mm:ss.mmm: 0x1003 (...)"),
// false when the line has no such form.
bool ParseLogLineCode(const std::wstring& line, uint32_t* code);

// Volume helpers the service started, read from the process channel of the
// services' Wine trace: "TID:trace:process:CreateProcessInternalW app (null)
// cmdline L\"QEBEvent.exe -VOLUMEUP\"" asks for one, and a later
// "TID:trace:process:CreateProcessInternalW started process pid ..." on the
// same thread reports it started. Threads' lines may interleave.
struct HelperLaunches {
    uint64_t upAsked = 0, downAsked = 0, upStarted = 0, downStarted = 0;
    std::map<std::string, int> launching;  // trace thread id -> 1 up, 2 down
    void Take(const std::string& line);
};

}  // namespace soak
