// QEBCheck's command line: QEBCheck [/auto] [/report FILE] [/wait SECONDS].
// Pure.
#pragma once
#include <string>
#include <vector>

namespace qebcheck {

const unsigned kDefaultWaitSeconds = 20;
const unsigned kMaxWaitSeconds = 3600;

struct Options {
    bool automaticOnly = false;  // /auto: no guided checks
    std::wstring reportPath;     // empty: the default name in the current folder
    unsigned waitSeconds = kDefaultWaitSeconds;
};

// The arguments after the program name. Switches start with '/' or '-' and
// are matched without case. False with a reason in *error for anything else.
bool ParseOptions(const std::vector<std::wstring>& args, Options* options, std::wstring* error);

extern const wchar_t kUsage[];

}  // namespace qebcheck
