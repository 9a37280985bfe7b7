#pragma once
#include <windows.h>
#include <utility>

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
    ~SystemLibrary() { reset(); }
    SystemLibrary(SystemLibrary&& other) noexcept
        : m_module(std::exchange(other.m_module, nullptr)), m_loadError(other.m_loadError) {}
    SystemLibrary& operator=(SystemLibrary&& other) noexcept {
        if (this != &other) {
            reset();
            m_module = std::exchange(other.m_module, nullptr);
            m_loadError = other.m_loadError;
        }
        return *this;
    }
    SystemLibrary(const SystemLibrary&) = delete;
    SystemLibrary& operator=(const SystemLibrary&) = delete;

    explicit operator bool() const { return m_module != nullptr; }
    // Why the DLL could not be loaded (GetLastError of the load); 0 when it was.
    DWORD LoadError() const { return m_loadError; }
    void reset();

    // The export `name` as a pointer to `Function` (declared like the
    // function itself: decltype(::WinVerifyTrust)), or null.
    template <typename Function>
    Function* Find(const char* name) const {
        if (m_module == nullptr) return nullptr;
        return reinterpret_cast<Function*>(reinterpret_cast<void*>(::GetProcAddress(m_module, name)));
    }

private:
    HMODULE m_module = nullptr;
    DWORD m_loadError = ERROR_SUCCESS;
};

}  // namespace platform
