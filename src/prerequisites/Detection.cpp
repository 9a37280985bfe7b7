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

// "probe HKLM\SOFTWARE\... (32-bit view): found"
void LogProbe(const platform::Log& log, HKEY root, std::wstring_view path, LONG result) {
    log.Write({L"probe ", root == HKEY_CURRENT_USER ? L"HKCU\\" : L"HKLM\\", path, L" (",
               platform::OwnRegistryView(), L"): ",
               result == ERROR_SUCCESS ? L"found" : L"not found, error ",
               result == ERROR_SUCCESS ? std::wstring() : platform::CodeText(static_cast<DWORD>(result))});
}

}  // namespace

bool IsNetFramework462Installed(const platform::Log& log) {
    platform::RegKey key;
    const LONG opened = platform::OpenKey(HKEY_LOCAL_MACHINE, kNetFramework4Key, KEY_QUERY_VALUE, key);
    LogProbe(log, HKEY_LOCAL_MACHINE, kNetFramework4Key, opened);
    if (opened != ERROR_SUCCESS) return false;
    const auto release = platform::QueryDwordValue(key, L"Release");
    if (release) {
        log.Write({L"Release = ", platform::Decimal(*release), L", 4.6.2 needs at least ",
                   platform::Decimal(kNetFramework462Release)});
    } else {
        log.Write({L"Release: no REG_DWORD value"});
    }
    return release && *release >= kNetFramework462Release;
}

bool UninstallKeyExists(HKEY root, const wchar_t* parentPath, const wchar_t* productCode,
                        const platform::Log& log) {
    std::wstring path(parentPath);
    path.append(L"\\").append(productCode);
    platform::RegKey key;
    const LONG opened = platform::OpenKey(root, path, KEY_QUERY_VALUE, key);
    LogProbe(log, root, path, opened);
    return opened == ERROR_SUCCESS;
}

bool IsVcRedist2010Installed(const platform::Log& log) {
    for (const wchar_t* code : kVcRedist2010Codes) {
        if (UninstallKeyExists(HKEY_CURRENT_USER, kUninstallList, code, log) ||
            UninstallKeyExists(HKEY_LOCAL_MACHINE, kUninstallList, code, log) ||
            UninstallKeyExists(HKEY_LOCAL_MACHINE, kWowUninstallList, code, log)) {
            return true;
        }
    }
    return false;
}
