#include "app/RestartContinuation.h"

#include <windows.h>

#include "platform/ModulePath.h"
#include "platform/RegKey.h"
#include "platform/Security.h"

namespace {

constexpr wchar_t kRunOnceKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
constexpr wchar_t kRunOnceValue[] = L"Norvalis setup";
constexpr wchar_t kServerKey[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Norvalis Server";
constexpr wchar_t kServerValue[] = L"InstallerPath";

}  // namespace

bool RegisterRunOnce() {
    {
        platform::RegKey key;
        if (platform::OpenKey(HKEY_CURRENT_USER, kRunOnceKey, KEY_ALL_ACCESS, key) != ERROR_SUCCESS) {
            platform::CreateKeyEx(HKEY_CURRENT_USER, kRunOnceKey, KEY_ALL_ACCESS, key);
        }
    }
    platform::RegKey key;
    if (platform::OpenKey(HKEY_CURRENT_USER, kRunOnceKey, KEY_ALL_ACCESS, key) != ERROR_SUCCESS) {
        return false;
    }
    // A cut path would start some other program at the next logon: store nothing.
    const auto path = platform::ModulePath();
    if (!path) return false;
    // Quoted, so Windows cannot read "C:\Path With Blanks\Setup.exe" as
    // C:\Path.exe with arguments.
    return platform::SetStringValue(key, kRunOnceValue, L"\"" + *path + L"\"") == ERROR_SUCCESS;
}

void MarkServerInstallerPath() {
    // Without the whole path nothing is stored, not even the key: an empty
    // uninstall entry would pass for an installed server.
    const auto path = platform::ModulePath();
    if (!path) return;
    platform::RegKey key;
    if (platform::CreateKey(HKEY_LOCAL_MACHINE, kServerKey, key) != ERROR_SUCCESS) return;
    // The server's installation reads this value as a path: stored bare.
    platform::SetStringValue(key, kServerValue, *path);
}

void RestartSystem() {
    // A planned restart for an application's installation, so Windows records
    // no unexpected shutdown and asks nobody for a reason at the next logon.
    platform::RequestRestart(EWX_REBOOT, SHTDN_REASON_MAJOR_APPLICATION |
                                             SHTDN_REASON_MINOR_INSTALLATION |
                                             SHTDN_REASON_FLAG_PLANNED);
}
