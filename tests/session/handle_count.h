// Number of handles a process holds, from the system's handle table
// (GetProcessHandleCount is not implemented by every Windows layer the tests
// run on; the handle table is).
#pragma once
#include <windows.h>
#include <winternl.h>

#include <vector>

namespace qebtest {

struct SystemHandleEntry {
    ULONG ownerPid;
    BYTE objectType;
    BYTE handleFlags;
    USHORT handleValue;
    PVOID object;
    ACCESS_MASK access;
};

// -1 when the table cannot be read.
inline long CountProcessHandles(DWORD pid) {
    const auto kSystemHandleInformation = static_cast<SYSTEM_INFORMATION_CLASS>(16);
    std::vector<BYTE> buffer(1 << 20);
    ULONG needed = 0;
    NTSTATUS status;
    while ((status = NtQuerySystemInformation(kSystemHandleInformation, buffer.data(),
                                              static_cast<ULONG>(buffer.size()), &needed)) ==
           static_cast<NTSTATUS>(0xC0000004L)) {
        buffer.resize(buffer.size() * 2);
    }
    if (status != 0) return -1;
    ULONG count = *reinterpret_cast<ULONG*>(buffer.data());
    auto* entries = reinterpret_cast<SystemHandleEntry*>(buffer.data() + sizeof(ULONG_PTR));
    long held = 0;
    for (ULONG i = 0; i < count; ++i)
        if (entries[i].ownerPid == pid) ++held;
    return held;
}

// Committed private memory of a process in KB, the sum of its committed
// MEM_PRIVATE regions (Wine reports no PrivateUsage for another process).
inline long long PrivateCommitKb(HANDLE process) {
    unsigned long long bytes = 0;
    MEMORY_BASIC_INFORMATION mbi;
    const char* at = nullptr;
    while (VirtualQueryEx(process, at, &mbi, sizeof(mbi)) == sizeof(mbi)) {
        if (mbi.State == MEM_COMMIT && mbi.Type == MEM_PRIVATE) bytes += mbi.RegionSize;
        const char* next = static_cast<const char*>(mbi.BaseAddress) + mbi.RegionSize;
        if (next <= at) break;
        at = next;
    }
    return static_cast<long long>(bytes / 1024);
}

}  // namespace qebtest
