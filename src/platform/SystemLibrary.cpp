#include "platform/SystemLibrary.h"

#include <string>

namespace platform {

SystemLibrary::SystemLibrary(const wchar_t* name) {
    m_module.reset(::LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
    if (m_module) return;
    m_loadError = ::GetLastError();
    if (m_loadError != ERROR_INVALID_PARAMETER) return;
    // Windows 7 without the loader update does not know the flag. The full
    // System32 path with the altered search order takes the DLL and its own
    // dependencies from System32 there as well.
    wchar_t folder[MAX_PATH];
    const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;
    const std::wstring path = std::wstring(folder, length) + L"\\" + name;
    m_module.reset(::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
    m_loadError = m_module ? ERROR_SUCCESS : ::GetLastError();
}

}  // namespace platform
