#include "prerequisites/InstallWorker.h"

#include "platform/ModulePath.h"
#include "platform/Process.h"

namespace {

constexpr DWORD kRebootRequired = ERROR_SUCCESS_REBOOT_REQUIRED;    // 3010
constexpr DWORD kRebootInitiated = ERROR_SUCCESS_REBOOT_INITIATED;  // 1641
constexpr DWORD kAnnouncementPause = 500;                           // ms

void Announce(const InstallJob& job, size_t index) {
    if (::IsWindow(job.window)) ::PostMessageW(job.window, WM_INSTALLING_COMPONENT, index, 0);
}

const wchar_t* OutcomeName(InstallOutcome outcome) {
    switch (outcome) {
    case Completed: return L"completed";
    case Failed: return L"failed";
    case Aborted: return L"aborted";
    case RestartRequired: return L"restart required";
    }
    return L"?";
}

void InstallAll(InstallJob& job) {
    const std::vector<Prerequisite>& catalog = *job.catalog;
    for (size_t i = 0; i < catalog.size(); ++i) {
        const Prerequisite& entry = catalog[i];
        if (entry.installed) continue;
        job.component = i;
        job.log->Write({L"installing ", entry.displayName});
        Announce(job, i);
        ::Sleep(kAnnouncementPause);
        InstallerRun run;
        const int status = RunPrerequisite(job, i, run);
        job.installerExitCode = run.exitCode;
        job.launchError = run.launchError;
        if (status == kInstallerMissing) {
            if (job.onInstallerMissing != nullptr) job.onInstallerMissing();
            job.outcome = Aborted;
            return;
        }
        if (status == kInstallerRan && run.exitCode == 0) continue;
        if (status == kInstallerRan &&
            (run.exitCode == kRebootRequired || run.exitCode == kRebootInitiated)) {
            job.outcome = RestartRequired;
            return;
        }
        job.outcome = Failed;
        return;
    }
    job.component = InstallJob::kNoComponent;
}

}  // namespace

DWORD WINAPI InstallWorker(LPVOID parameter) {
    auto& job = *static_cast<InstallJob*>(parameter);
    try {
        job.outcome = Completed;
        InstallAll(job);
    } catch (...) {
        // The component being installed stays named, so the user learns
        // which one the pass broke off at.
        job.outcome = Failed;
        job.log->Write({L"the installation broke off with an unexpected error"});
    }
    job.log->Write({L"installation outcome: ", OutcomeName(job.outcome)});
    return 0;
}

int RunInstaller(const std::wstring& path, const std::wstring& arguments, InstallerRun& run,
                 const platform::Log& log) {
    WIN32_FILE_ATTRIBUTE_DATA attributes;
    if (path.size() >= MAX_PATH) {
        log.Write({L"installer path too long (", platform::Decimal(path.size()), L" characters): ", path});
        return kInstallerMissing;
    }
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &attributes)) {
        log.Write({L"installer not found: ", path, L", error ", platform::CodeText(::GetLastError())});
        return kInstallerMissing;
    }
    std::wstring commandLine = L"\"" + path + L"\"" + arguments;
    log.Write({L"installer starts: ", commandLine});
    const ULONGLONG started = ::GetTickCount64();
    const auto process = platform::StartProcess(nullptr, &commandLine);
    if (!process) {
        run.launchError = ::GetLastError();
        log.Write({L"installer could not be started: error ", platform::CodeText(run.launchError)});
        return kInstallerNotStarted;
    }
    run.exitCode = platform::WaitForExitCode(*process);
    const ULONGLONG elapsed = ::GetTickCount64() - started;
    log.Write({L"installer ended after ", platform::Decimal(elapsed / 1000), L".",
               platform::Decimal(elapsed % 1000 + 1000).substr(1), L" s with exit code ",
               platform::CodeText(run.exitCode)});
    return kInstallerRan;
}

int RunPrerequisite(const InstallJob& job, size_t index, InstallerRun& run) {
    // Without the Packages folder the installer path would name a file below
    // the root of the current drive: count the installer as missing instead.
    if (!job.packages) {
        job.log->Write({L"the folder of the set-up program is unknown: no Packages folder"});
        return kInstallerMissing;
    }
    const Prerequisite& entry = (*job.catalog)[index];
    return RunInstaller(*job.packages + entry.installerPath, entry.arguments, run, *job.log);
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
