#include "prerequisites/Detection.h"

#include <string>

#include "platform/RegKey.h"

namespace {

constexpr wchar_t kNetFramework4Key[] = L"SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v4\\Full";
constexpr DWORD kNetFramework462Release = 394802;

constexpr wchar_t kUninstallList[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
constexpr wchar_t kWowUninstallList[] =
    L"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

// The two product codes of the Visual C++ 2010 x86 redistributable.
constexpr const wchar_t* kVcRedist2010Codes[] = {
    L"{F0C3E5D1-1ADE-321E-8167-68EF0DE699A5}",
    L"{196BB40D-1578-3D01-B289-BEFC77A11A1E}",
};

}  // namespace

bool IsNetFramework462Installed() {
    platform::RegKey key;
    if (platform::OpenKey(HKEY_LOCAL_MACHINE, kNetFramework4Key, KEY_QUERY_VALUE, key) !=
        ERROR_SUCCESS) {
        return false;
    }
    const auto release = platform::QueryDwordValue(key, L"Release");
    return release && *release >= kNetFramework462Release;
}

bool UninstallKeyExists(HKEY root, const wchar_t* parentPath, const wchar_t* productCode) {
    std::wstring path(parentPath);
    path.append(L"\\").append(productCode);
    platform::RegKey key;
    return platform::OpenKey(root, path, KEY_QUERY_VALUE, key) == ERROR_SUCCESS;
}

bool IsVcRedist2010Installed() {
    for (const wchar_t* code : kVcRedist2010Codes) {
        if (UninstallKeyExists(HKEY_CURRENT_USER, kUninstallList, code) ||
            UninstallKeyExists(HKEY_LOCAL_MACHINE, kUninstallList, code) ||
            UninstallKeyExists(HKEY_LOCAL_MACHINE, kWowUninstallList, code)) {
            return true;
        }
    }
    return false;
}
