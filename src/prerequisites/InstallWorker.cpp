#include "prerequisites/InstallWorker.h"

#include "app/SetupRunner.h"
#include "framework/Strings.h"
#include "platform/ModulePath.h"
#include "platform/Process.h"
#include "res/resource.h"
#include "ui/ProgressDialog.h"

InstallOutcome installOutcome = Completed;
std::wstring installErrorText;

namespace {

constexpr DWORD kRebootRequired = ERROR_SUCCESS_REBOOT_REQUIRED;    // 3010
constexpr DWORD kRebootInitiated = ERROR_SUCCESS_REBOOT_INITIATED;  // 1641
constexpr DWORD kAnnouncementPause = 500;                           // ms

void Announce(const CSetupRunnerApp& app, size_t index) {
    HWND window = app.progressDialog != nullptr ? app.progressDialog->GetSafeHwnd() : nullptr;
    if (::IsWindow(window)) ::PostMessageW(window, WM_INSTALLING_COMPONENT, index, 0);
}

void InstallAll(CSetupRunnerApp& app) {
    for (size_t i = 0; i < app.prerequisites.size(); ++i) {
        const Prerequisite& entry = app.prerequisites[i];
        if (entry.installed) continue;
        Announce(app, i);
        ::Sleep(kAnnouncementPause);
        DWORD exitCode = 0;
        const int status = app.RunPrerequisite(i, exitCode);
        if (status == kInstallerMissing) {
            installOutcome = Aborted;
            return;
        }
        if (status == kInstallerRan && exitCode == 0) continue;
        if (status == kInstallerRan && (exitCode == kRebootRequired || exitCode == kRebootInitiated)) {
            installOutcome = RestartRequired;
            return;
        }
        installErrorText = LoadResourceString(IDS_INSTALL_FAILED) + L"   - " + entry.displayName;
        installOutcome = Failed;
        return;
    }
}

}  // namespace

DWORD WINAPI InstallWorker(LPVOID application) {
    try {
        installOutcome = Completed;
        InstallAll(*static_cast<CSetupRunnerApp*>(application));
    } catch (...) {
        installOutcome = Failed;
    }
    return 0;
}

int ReportMissingInstaller() {
    AfxMessageBox(IDS_PACKAGES_MISSING, MB_ICONERROR | MB_SETFOREGROUND);
    return kInstallerMissing;
}

int RunInstaller(const std::wstring& path, const std::wstring& arguments, DWORD& exitCode) {
    WIN32_FILE_ATTRIBUTE_DATA attributes;
    if (path.size() >= MAX_PATH ||
        !::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &attributes)) {
        return ReportMissingInstaller();
    }
    std::wstring commandLine = L"\"" + path + L"\"" + arguments;
    const auto started = platform::StartProcess(nullptr, &commandLine);
    if (!started) return kInstallerNotStarted;
    exitCode = platform::WaitForExitCode(*started);
    return kInstallerRan;
}

std::wstring GetPackagesDirectory() {
    static std::wstring cache;
    if (cache.empty()) {
        if (const auto module = platform::ModulePath()) {
            if (const auto folder = platform::ParentFolder(*module)) cache = *folder + L"\\Packages";
        }
    }
    return cache;
}
