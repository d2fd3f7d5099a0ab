#include "suspend_recorder.h"

#include <string.h>

#include <gtest/gtest.h>

#include "service_seams.h"

namespace qebtest {
namespace {

volatile LONG Calls = 0;
BOOLEAN Result = TRUE;
DWORD Error = 0;
HANDLE volatile Resume = nullptr;

BOOLEAN WINAPI RecordSuspend(BOOLEAN, BOOLEAN, BOOLEAN) {
    InterlockedIncrement(&Calls);
    HANDLE resume = Resume;
    if (resume != nullptr) WaitForSingleObject(resume, 30000);
    SetLastError(Error);
    return Result;
}

FARPROC WINAPI LookUpWithRecorder(HMODULE module, LPCSTR name) {
    if (HIWORD(reinterpret_cast<ULONG_PTR>(name)) != 0 && strcmp(name, "SetSuspendState") == 0)
        return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(RecordSuspend));
    return GetProcAddress(module, name);
}

// Installed before the first test runs, after every static initialiser.
class NoSuspendEnvironment : public ::testing::Environment {
public:
    void SetUp() override { PowerLibrary.getProcAddress = LookUpWithRecorder; }
};

::testing::Environment* const kNoSuspend = ::testing::AddGlobalTestEnvironment(new NoSuspendEnvironment);

}  // namespace

LONG SuspendCalls() { return InterlockedCompareExchange(&Calls, 0, 0); }

void HoldSuspendUntil(HANDLE resume) { Resume = resume; }

void SetSuspendAnswer(BOOLEAN result, DWORD error) {
    Result = result;
    Error = error;
}

}  // namespace qebtest
