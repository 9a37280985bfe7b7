#pragma once
#include <windows.h>

#include "platform/UniqueResource.h"

namespace platform {

// Owns one DLL loaded from the System32 folder only, and frees it exactly
// once. For system DLLs that are not KnownDLLs (wintrust, crypt32): imported
// statically, the loader would resolve them before the process hardens its
// DLL search, from the folder Setup.exe was started from, where a download
// may have put a file of that name.
class SystemLibrary {
public:
    SystemLibrary() = default;
    // Empty when the DLL cannot be loaded from System32.
    explicit SystemLibrary(const wchar_t* name);

    explicit operator bool() const { return static_cast<bool>(m_module); }
    // Why the DLL could not be loaded (GetLastError of the load); 0 when it was.
    DWORD LoadError() const { return m_loadError; }

    // The export `name` as a pointer to `Function` (declared like the
    // function itself: decltype(::WinVerifyTrust)), or null.
    template <typename Function>
    Function* Find(const char* name) const {
        if (!m_module) return nullptr;
        return reinterpret_cast<Function*>(reinterpret_cast<void*>(::GetProcAddress(m_module.get(), name)));
    }

private:
    UniqueModule m_module;
    DWORD m_loadError = ERROR_SUCCESS;
};

}  // namespace platform
