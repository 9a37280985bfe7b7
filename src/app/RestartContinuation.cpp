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

constexpr wchar_t kPathTooLong[] = L": not written, the program's path does not fit in MAX_PATH";

void LogWrite(const platform::Log& log, std::wstring_view what, std::wstring_view data, LONG result) {
    log.Write({what, data.empty() ? L"" : L" = ", data,
               result == ERROR_SUCCESS ? L": written" : L": not written, error ",
               result == ERROR_SUCCESS ? std::wstring() : platform::CodeText(static_cast<DWORD>(result))});
}

}  // namespace

bool RegisterRunOnce(const platform::Log& log) {
    const std::wstring what = std::wstring(L"RunOnce value HKCU\\") + kRunOnceKey + L"\\" + kRunOnceValue;
    {
        platform::RegKey key;
        if (platform::OpenKey(HKEY_CURRENT_USER, kRunOnceKey, KEY_ALL_ACCESS, key) != ERROR_SUCCESS) {
            platform::CreateKeyEx(HKEY_CURRENT_USER, kRunOnceKey, KEY_ALL_ACCESS, key);
        }
    }
    platform::RegKey key;
    const LONG opened = platform::OpenKey(HKEY_CURRENT_USER, kRunOnceKey, KEY_ALL_ACCESS, key);
    if (opened != ERROR_SUCCESS) {
        LogWrite(log, what, {}, opened);
        return false;
    }
    // A cut path would start some other program at the next logon: store nothing.
    const auto path = platform::ModulePath();
    if (!path) {
        log.Write({what, kPathTooLong});
        return false;
    }
    // Quoted, so Windows cannot read "C:\Path With Blanks\Setup.exe" as
    // C:\Path.exe with arguments.
    const std::wstring command = L"\"" + *path + L"\"";
    const LONG written = platform::SetStringValue(key, kRunOnceValue, command);
    LogWrite(log, what, command, written);
    return written == ERROR_SUCCESS;
}

void MarkServerInstallerPath(const platform::Log& log) {
    const std::wstring what = std::wstring(L"server marker HKLM\\") + kServerKey + L"\\" + kServerValue +
                              L" (" + platform::OwnRegistryView() + L")";
    // Without the whole path nothing is stored, not even the key: an empty
    // uninstall entry would pass for an installed server.
    const auto path = platform::ModulePath();
    if (!path) {
        log.Write({what, kPathTooLong});
        return;
    }
    platform::RegKey key;
    const LONG created = platform::CreateKey(HKEY_LOCAL_MACHINE, kServerKey, key);
    if (created != ERROR_SUCCESS) {
        LogWrite(log, what, {}, created);
        return;
    }
    // The server's installation reads this value as a path: stored bare.
    LogWrite(log, what, *path, platform::SetStringValue(key, kServerValue, *path));
}

bool RestartSystem(const platform::Log& log) {
    // A planned restart for an application's installation, so Windows records
    // no unexpected shutdown and asks nobody for a reason at the next logon.
    const bool accepted = platform::RequestRestart(
        EWX_REBOOT, SHTDN_REASON_MAJOR_APPLICATION | SHTDN_REASON_MINOR_INSTALLATION |
                        SHTDN_REASON_FLAG_PLANNED);
    log.Write({accepted ? L"restart requested: accepted" : L"restart requested: refused, error ",
               accepted ? std::wstring() : platform::CodeText(::GetLastError())});
    return accepted;
}
