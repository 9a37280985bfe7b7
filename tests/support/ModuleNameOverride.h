#pragma once
// Makes GetModuleFileNameW(nullptr, ...) answer with another full name for
// the running program, for as long as the object lives.
//
// Windows keeps the program's full name in the loader's record of the main
// module, and GetModuleFileNameW copies it from there. Some module paths
// cannot be produced by starting a copy of the test program: under Wine,
// CreateProcessW refuses a program path of 260 characters or more (with or
// without the "\\?\" form), so a program with such a path never starts. The
// record is changed instead. Only the name changes; the program's files and
// folder stay where they are. Header only.
#include <windows.h>
#include <winternl.h>

#include <string>
#include <utility>

class ModuleNameOverride {
public:
    explicit ModuleNameOverride(std::wstring name) : m_name(std::move(name)) {
        PEB* peb = OwnPeb();
        if (peb == nullptr || peb->Ldr == nullptr) return;
        LIST_ENTRY* head = &peb->Ldr->InMemoryOrderModuleList;
        const HMODULE self = ::GetModuleHandleW(nullptr);
        for (LIST_ENTRY* link = head->Flink; link != head; link = link->Flink) {
            auto* entry = CONTAINING_RECORD(link, LDR_DATA_TABLE_ENTRY, InMemoryOrderLinks);
            if (entry->DllBase != self) continue;
            m_entry = entry;
            m_saved = entry->FullDllName;
            entry->FullDllName.Buffer = m_name.data();
            entry->FullDllName.Length = static_cast<USHORT>(m_name.size() * sizeof(wchar_t));
            entry->FullDllName.MaximumLength = entry->FullDllName.Length;
            break;
        }
    }
    ~ModuleNameOverride() {
        if (m_entry != nullptr) m_entry->FullDllName = m_saved;
    }
    ModuleNameOverride(const ModuleNameOverride&) = delete;
    ModuleNameOverride& operator=(const ModuleNameOverride&) = delete;

    // False when the loader's record was not found: the name did not change.
    bool Applied() const { return m_entry != nullptr; }

private:
    static PEB* OwnPeb() {
        using Query = NTSTATUS(WINAPI*)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);
        const auto query = reinterpret_cast<Query>(reinterpret_cast<void*>(
            ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationProcess")));
        PROCESS_BASIC_INFORMATION basic{};
        if (query == nullptr ||
            query(::GetCurrentProcess(), ProcessBasicInformation, &basic, sizeof(basic), nullptr) != 0) {
            return nullptr;
        }
        return basic.PebBaseAddress;
    }

    std::wstring m_name;
    LDR_DATA_TABLE_ENTRY* m_entry = nullptr;
    UNICODE_STRING m_saved{};
};

// A full program name of exactly `length` characters in `folder` (which must
// be shorter), made of a long file name.
inline std::wstring ProgramNameOfLength(const std::wstring& folder, size_t length) {
    const size_t nameLength = length - folder.size() - 1;
    return folder + L"\\" + std::wstring(nameLength - 4, L'n') + L".exe";
}
