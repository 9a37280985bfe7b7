#include "platform/ModulePath.h"

#include <windows.h>

namespace platform {

std::optional<std::wstring> ModulePath() {
    wchar_t buffer[MAX_PATH];
    const DWORD length = ::GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return std::nullopt;
    return std::wstring(buffer, length);
}

std::optional<std::wstring> ParentFolder(const std::wstring& path) {
    const auto separator = path.find_last_of(L"\\/");
    if (separator == std::wstring::npos) return std::nullopt;
    return path.substr(0, separator);
}

}  // namespace platform
