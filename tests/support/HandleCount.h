#pragma once
// Kernel handles (keys among them) held by this process, from the system's
// handle list. GetProcessHandleCount cannot serve under Wine: it answers 0
// whatever the process holds. Header only.
#include <windows.h>

#include <optional>
#include <vector>

struct SystemHandleEntry {
    PVOID object;
    ULONG_PTR processId;
    ULONG_PTR handle;
    ULONG grantedAccess;
    USHORT creatorBackTraceIndex;
    USHORT objectTypeIndex;
    ULONG attributes;
    ULONG reserved;
};

inline std::optional<size_t> OpenHandleCount() {
    using Query = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
    const auto query = reinterpret_cast<Query>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    if (query == nullptr) return std::nullopt;
    constexpr ULONG kExtendedHandleInformation = 64;
    constexpr LONG kLengthMismatch = static_cast<LONG>(0xC0000004);
    std::vector<ULONG_PTR> buffer(1 << 16);
    LONG status;
    ULONG needed = 0;
    while ((status = query(kExtendedHandleInformation, buffer.data(),
                           static_cast<ULONG>(buffer.size() * sizeof(ULONG_PTR)), &needed)) == kLengthMismatch) {
        buffer.resize(buffer.size() * 2);
    }
    if (status != 0) return std::nullopt;
    const ULONG_PTR count = buffer[0];
    const auto* entries = reinterpret_cast<const SystemHandleEntry*>(buffer.data() + 2);
    size_t own = 0;
    for (ULONG_PTR i = 0; i < count; ++i) {
        if (entries[i].processId == ::GetCurrentProcessId()) ++own;
    }
    return own;
}
