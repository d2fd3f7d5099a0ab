// QEBEvent: internals of the user-session and power-loss actions, shared with
// their tests. The pure helpers here have no side effects; the replaceable
// entry points exist so a test can reach paths a test machine cannot produce
// (an old Windows version, a failing user-session launch).
#pragma once
#include <stddef.h>

#include "qebevent.h"

// ---- pure helpers --------------------------------------------------------------

// Command-line switch of a helper mode (1 "-HALT" .. 4 "-VOLUMEDOWN"), or
// nullptr for any other mode.
const wchar_t* HelperSwitch(int mode);

// "QEBEvent.exe " followed by the mode's switch, into buffer (capacity in
// characters, terminator included). False for an unknown mode or a buffer too
// small; the buffer then holds an empty string when capacity > 0.
bool BuildHelperCommandLine(int mode, wchar_t* buffer, size_t capacity);

// Countdown text for n: "System will hibernate after %d second%s." with "s"
// exactly when n, taken as unsigned, is greater than 1. Always terminated and
// truncated to capacity; returns false when capacity is 0 or the text was cut.
bool FormatCountdownText(int n, wchar_t* buffer, size_t capacity);

// The resume notice shown by the second countdown dialog.
extern const wchar_t ResumeNoticeText[];

// Text of the "-HALT" helper's error box when SetSuspendState was refused
// with `error`. Always terminated; false when capacity is 0 or it was cut.
bool FormatHibernateFailureText(DWORD error, wchar_t* buffer, size_t capacity);

// The "SoftwareSASGeneration" value to write so that services may raise the
// secure attention sequence (bit 0), keeping the administrator's other bits
// (bit 1: Ease of Access applications), given the result of reading it
// (ERROR_SUCCESS or an error), its type, size and value. A value missing,
// unreadable or not a 4-byte REG_DWORD gives 1. Returns false when the value
// already has bit 0 set and is left as it is.
bool SasGenerationToWrite(long queryResult, DWORD type, DWORD size, DWORD value, DWORD* toWrite);

// Bit 2 of the firmware's power flags word: hibernate now.
constexpr DWORD PowerFlagHibernateRequested = 0x00000004u;
inline bool HibernateRequested(DWORD powerFlags) {
    return (powerFlags & PowerFlagHibernateRequested) != 0;
}

// Sets bit 0 of "SoftwareSASGeneration" (HKLM policy key of the system)
// unless it is already set; the earlier value is not restored. Silent on
// failure.
void AllowSoftwareSas();

// ---- process-wide state -------------------------------------------------------

// Seconds the "-HALT" helper's countdown dialog still shows; 0 selects the
// resume notice. Used by the helper's main thread only.
extern int CountdownSeconds;

// Stores newHelper as the latest "-HALT" helper. The earlier one, if any, is
// ended with exit code 0xFFFFFFFF and its handle closed, all as one step under
// a lock, so concurrent power-loss threads end and close each earlier helper
// exactly once. Takes ownership of newHelper.
void ReplaceHaltHelper(HANDLE newHelper);

// Handles the session actions hold right now (user tokens, process and thread
// handles of launched helpers, the "-HALT" helper slot). A launch that keeps
// no handle leaves it where it was.
LONG SessionHandlesHeld();

// Closes a handle that LaunchInUserSession handed out (counted above).
void CloseSessionHandle(HANDLE handle);

// ---- replaceable entry points (tests) ------------------------------------------

// Major version of the running Windows; SendCtrlAltDel takes the hot-key path
// below 6. Defaults to GetVersionExW.
typedef DWORD (*OsMajorVersionQuery)();
extern OsMajorVersionQuery QueryOsMajorVersion;
DWORD QueryOsMajorVersionFromSystem();

// When set, LaunchInUserSession calls this instead of starting a process in
// the user's session (same arguments and result). Null in the product.
typedef BOOL (*UserSessionLauncher)(int mode, HANDLE* processOut, HANDLE* threadOut);
extern UserSessionLauncher UserSessionLaunchOverride;
