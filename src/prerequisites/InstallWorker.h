#pragma once
#include <windows.h>
#include <optional>
#include <string>
#include <vector>

#include "platform/Log.h"
#include "prerequisites/Prerequisite.h"

// What the installation pass came to.
enum InstallOutcome : LONG {
    Completed = 0,         // every missing component installed (or none missing)
    Failed = -1,           // an installer failed, could not start, or the pass broke off
    Aborted = -2,          // an installer file is missing
    RestartRequired = 4,   // an installer asked for a restart (3010 or 1641)
};

// Posted to the job's window before each installer: wParam is the catalog
// index of the component, lParam 0.
constexpr UINT WM_INSTALLING_COMPONENT = WM_USER + 1;

// One installation pass: what to install and where from, whom to tell, and,
// once the worker has ended, what came of it. The caller owns it for as long
// as the worker runs; the worker writes only the results.
struct InstallJob {
    static constexpr size_t kNoComponent = static_cast<size_t>(-1);

    // The catalog, every entry's `installed` already set.
    const std::vector<Prerequisite>* catalog = nullptr;
    // The Packages folder, or nothing when the program's own folder is unknown.
    std::optional<std::wstring> packages;
    // Told about each component before its installer starts, when it is a
    // window. Set before the worker runs and not changed while it runs.
    HWND window = nullptr;
    // Called on the worker thread when an installer file is missing, before
    // the pass ends; may show a message and wait for the user.
    void (*onInstallerMissing)() = nullptr;
    const platform::Log* log = &platform::NoLog();

    // Results, final once the worker thread has ended.
    InstallOutcome outcome = Completed;
    size_t component = kNoComponent;  // the entry that ended the pass, or the one being installed
    DWORD installerExitCode = 0;       // when the installer ran
    DWORD launchError = 0;             // when it could not be started
};

// Thread routine: installs every catalog entry of the job that is not
// installed, in catalog order, until the first one that does not succeed.
// The parameter is the InstallJob. Always returns 0.
DWORD WINAPI InstallWorker(LPVOID job);

// Status of RunInstaller, apart from the installer's own exit code.
constexpr int kInstallerRan = 0;
constexpr int kInstallerNotStarted = -1;
constexpr int kInstallerMissing = -2;

// What RunInstaller found out about one installer.
struct InstallerRun {
    DWORD exitCode = 0;     // kInstallerRan
    DWORD launchError = 0;  // kInstallerNotStarted: the system's error code
};

// Runs `"path"arguments` and waits for it; kInstallerRan, kInstallerNotStarted,
// or kInstallerMissing (path too long or nothing there). Every step goes to `log`.
int RunInstaller(const std::wstring& path, const std::wstring& arguments, InstallerRun& run,
                 const platform::Log& log = platform::NoLog());

// Runs the installer of catalog entry `index` of the job.
int RunPrerequisite(const InstallJob& job, size_t index, InstallerRun& run);

// The Packages folder beside the program, or empty when it cannot be known.
std::wstring GetPackagesDirectory();
