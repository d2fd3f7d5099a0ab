#include "command_line.h"

#include <wctype.h>

namespace qebcheck {

const wchar_t kUsage[] =
    L"usage: QEBCheck [/auto] [/report FILE] [/wait SECONDS]\r\n"
    L"  /auto     automatic checks only (nobody at the PC)\r\n"
    L"  /report   the report file (default QEBCheck-<computer>-<yyyymmdd-hhmmss>.txt here)\r\n"
    L"  /wait     seconds for each guided check (1 to 3600, default 20)\r\n";

namespace {

bool IsSwitch(const std::wstring& arg, const wchar_t* name) {
    if (arg.size() < 2 || (arg[0] != L'/' && arg[0] != L'-')) return false;
    size_t i = 1;
    for (; name[i - 1] != 0; ++i) {
        if (i >= arg.size() || towlower(arg[i]) != name[i - 1]) return false;
    }
    return i == arg.size();
}

bool ParseSeconds(const std::wstring& text, unsigned* seconds) {
    if (text.empty() || text.size() > 4) return false;
    unsigned value = 0;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9') return false;
        value = value * 10 + static_cast<unsigned>(c - L'0');
    }
    if (value < 1 || value > kMaxWaitSeconds) return false;
    *seconds = value;
    return true;
}

}  // namespace

bool ParseOptions(const std::vector<std::wstring>& args, Options* options, std::wstring* error) {
    Options parsed;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::wstring& arg = args[i];
        if (IsSwitch(arg, L"auto")) {
            parsed.automaticOnly = true;
        } else if (IsSwitch(arg, L"report")) {
            if (i + 1 >= args.size() || args[i + 1].empty()) {
                *error = L"/report needs a file name";
                return false;
            }
            parsed.reportPath = args[++i];
        } else if (IsSwitch(arg, L"wait")) {
            if (i + 1 >= args.size() || !ParseSeconds(args[i + 1], &parsed.waitSeconds)) {
                *error = L"/wait needs a number of seconds from 1 to 3600";
                return false;
            }
            ++i;
        } else {
            *error = L"unknown argument \"" + arg + L"\"";
            return false;
        }
    }
    *options = parsed;
    return true;
}

}  // namespace qebcheck
