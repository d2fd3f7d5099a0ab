#include "check_facts.h"

#include <strsafe.h>
#include <wctype.h>

namespace qebcheck {

namespace {

std::wstring Lower(std::wstring text) {
    for (auto& c : text) c = static_cast<wchar_t>(towlower(c));
    return text;
}

}  // namespace

std::wstring Format(const wchar_t* format, ...) {
    wchar_t text[512];
    va_list args;
    va_start(args, format);
    StringCchVPrintfW(text, 512, format, args);
    va_end(args);
    return text;
}

bool WindowsVersionAccepted(DWORD major, DWORD minor, WORD servicePackMajor) {
    if (major != 5) return major > 5;
    if (minor != 1) return minor > 1;
    return servicePackMajor >= 3;
}

std::wstring FileVersionText(DWORD versionMs, DWORD versionLs) {
    return Format(L"%lu.%lu.%lu.%lu", static_cast<unsigned long>(HIWORD(versionMs)),
                  static_cast<unsigned long>(LOWORD(versionMs)), static_cast<unsigned long>(HIWORD(versionLs)),
                  static_cast<unsigned long>(LOWORD(versionLs)));
}

std::wstring ImagePathProgram(const std::wstring& imagePath) {
    size_t start = imagePath.find_first_not_of(L' ');
    if (start == std::wstring::npos) return L"";
    if (imagePath[start] == L'"') {
        size_t end = imagePath.find(L'"', start + 1);
        return imagePath.substr(start + 1, end == std::wstring::npos ? std::wstring::npos : end - start - 1);
    }
    const std::wstring lower = Lower(imagePath);
    size_t exe = lower.find(L".exe", start);
    if (exe != std::wstring::npos) return imagePath.substr(start, exe + 4 - start);
    size_t blank = imagePath.find(L' ', start);
    return imagePath.substr(start, blank == std::wstring::npos ? std::wstring::npos : blank - start);
}

std::wstring FolderOf(const std::wstring& path) {
    size_t separator = path.find_last_of(L"\\/");
    return separator == std::wstring::npos ? std::wstring() : path.substr(0, separator);
}

std::wstring DllSearchPath(const std::wstring& appFolder, const std::wstring& systemFolder,
                           const std::wstring& windowsFolder, const std::wstring& pathVariable) {
    std::wstring path = appFolder + L";" + appFolder + L";" + systemFolder + L";" + windowsFolder + L"\\System;" +
                        windowsFolder;
    if (!pathVariable.empty()) path += L";" + pathVariable;
    return path;
}

std::wstring RecoveryText(DWORD resetSeconds, const std::vector<RecoveryAction>& actions) {
    std::wstring text = Format(L"reset after %lu s;", static_cast<unsigned long>(resetSeconds));
    if (actions.empty()) return text + L" no actions";
    for (size_t i = 0; i < actions.size(); ++i) {
        const RecoveryAction& action = actions[i];
        text += i == 0 ? L" " : L", ";
        switch (action.type) {
            case SC_ACTION_NONE: text += L"no action"; break;
            case SC_ACTION_RESTART: text += L"restart"; break;
            case SC_ACTION_REBOOT: text += L"reboot"; break;
            case SC_ACTION_RUN_COMMAND: text += L"run a command"; break;
            default: text += Format(L"action %lu", static_cast<unsigned long>(action.type)); break;
        }
        if (action.type != SC_ACTION_NONE || action.delay != 0)
            text += Format(L" after %lu ms", static_cast<unsigned long>(action.delay));
    }
    return text;
}

Outcome JudgeRecovery(DWORD resetSeconds, const std::vector<RecoveryAction>& actions, std::wstring* seen) {
    const std::vector<RecoveryAction> expected = {
        {SC_ACTION_RESTART, 5000}, {SC_ACTION_RESTART, 60000}, {SC_ACTION_NONE, 0}};
    bool same = resetSeconds == 600 && actions.size() == expected.size();
    for (size_t i = 0; same && i < actions.size(); ++i)
        same = actions[i].type == expected[i].type && actions[i].delay == expected[i].delay;
    const std::wstring got = RecoveryText(resetSeconds, actions);
    *seen = same ? got : L"expected " + RecoveryText(600, expected) + L", got " + got;
    return same ? Outcome::Pass : Outcome::Fail;
}

Outcome JudgeKeyPress(const std::vector<KeyEvent>& events, DWORD vk, const wchar_t* keyName, unsigned waitSeconds,
                      std::wstring* seen) {
    const std::wstring key = Format(L"%ls (0x%02lX)", keyName, static_cast<unsigned long>(vk));
    unsigned downs = 0, ups = 0;
    std::wstring flags;
    bool extended = true, upAfterDown = false;
    for (const KeyEvent& e : events) {
        if (e.vk != vk) continue;
        if (e.up) {
            ++ups;
            upAfterDown = downs == 1 && ups == 1;
        } else {
            ++downs;
        }
        extended = extended && (e.flags & LLKHF_EXTENDED) != 0;
        flags += Format(L"%ls%ls 0x%02lX", flags.empty() ? L"" : L", ", e.up ? L"up" : L"down",
                        static_cast<unsigned long>(e.flags));
    }
    if (downs == 0 && ups == 0) {
        *seen = L"expected one key-down and one key-up of " + key + L", " + NothingSeen(waitSeconds);
        return Outcome::Fail;
    }
    if (downs == 1 && ups == 1 && upAfterDown && extended) {
        *seen = L"one key-down and one key-up of " + key + L", extended (flags: " + flags + L")";
        return Outcome::Pass;
    }
    *seen = Format(L"expected one extended key-down and key-up of %ls, got %u key-down(s) and %u key-up(s) (flags: ",
                   key.c_str(), downs, ups) +
            flags + L")";
    return Outcome::Fail;
}

int CountdownSeconds(const std::wstring& text) {
    const std::wstring head = L"System will hibernate after ";
    if (text.compare(0, head.size(), head) != 0) return -1;
    size_t i = head.size();
    int value = 0;
    size_t digits = 0;
    for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9' && digits < 3; ++i, ++digits)
        value = value * 10 + (text[i] - L'0');
    if (digits == 0) return -1;
    const std::wstring tail = text.substr(i);
    const wchar_t* expectedTail = value > 1 ? L" seconds." : L" second.";
    return tail == expectedTail ? value : -1;
}

Outcome JudgeCountdown(const std::vector<int>& values, std::wstring* seen) {
    std::wstring list;
    for (int v : values) list += Format(L"%ls%d", list.empty() ? L"" : L", ", v);
    bool down = !values.empty() && values[0] == 5;
    bool wentDown = false;
    for (size_t i = 1; down && i < values.size(); ++i) {
        if (values[i] >= values[i - 1]) down = false;
        wentDown = true;
    }
    if (down && wentDown) {
        *seen = L"\"System will hibernate after 5 seconds.\", counting down: " + list;
        return Outcome::Pass;
    }
    *seen = L"expected \"System will hibernate after 5 seconds.\" counting down, got the seconds " + list;
    return Outcome::Fail;
}

std::wstring VolumePrompt(const wchar_t* keyName, unsigned waitSeconds) {
    return Format(L"Press the %ls key of the PC now (%u s)...", keyName, waitSeconds);
}

std::wstring CtrlAltDelPrompt(unsigned waitSeconds) {
    return Format(L"Press the Ctrl+Alt+Del button of the PC now (%u s); when the security screen or Task Manager "
                  L"appears, press Cancel or close Task Manager...",
                  waitSeconds);
}

std::wstring PowerLossPrompt(unsigned waitSeconds) {
    return Format(L"Pull the mains plug of the PC now (an all-in-one goes on on its backup power); the countdown "
                  L"appears and the PC hibernates (%u s)...",
                  waitSeconds);
}

std::wstring ResumePrompt(unsigned waitSeconds) {
    return Format(L"Plug the mains back in; once the PC has hibernated, press its power button to resume it, then "
                  L"press OK in the notice (%u s after the resume)...",
                  waitSeconds);
}

std::wstring NothingSeen(unsigned waitSeconds) { return Format(L"nothing seen in %u s", waitSeconds); }

}  // namespace qebcheck
