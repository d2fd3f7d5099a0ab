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

}  // namespace qebtest
