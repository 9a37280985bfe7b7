#include "app/SetupRunner.h"

#include <commctrl.h>

#include "app/Launcher.h"
#include "app/RestartContinuation.h"
#include "app/RunLog.h"
#include "framework/Strings.h"
#include "platform/ModulePath.h"
#include "platform/Process.h"
#include "platform/Security.h"
#include "prerequisites/Detection.h"
#include "prerequisites/InstallWorker.h"
#include "res/resource.h"
#include "ui/ProgressDialog.h"
#include "ui/RebootDialog.h"
#include "ui/SetupRunnerDlg.h"

namespace {

// One run at a time on the whole machine: two passes of the same installers
// side by side fail each other.
constexpr wchar_t kRunMutex[] = L"Global\\Norvalis Setup";

// The other run's window (any of its dialogs and message boxes carries the
// application title), so the user finds the run already under way.
void BringOtherRunToFront(const std::wstring& title) {
    HWND window = ::FindWindowW(L"#32770", title.c_str());
    if (window == nullptr) return;
    if (::IsIconic(window)) ::ShowWindow(window, SW_RESTORE);
    ::SetForegroundWindow(window);
}

// Runs on the worker thread while the progress dialog stays up.
void ShowInstallerMissing() { AfxMessageBox(IDS_PACKAGES_MISSING, MB_ICONERROR | MB_SETFOREGROUND); }

ExitCode QuietExitCode(InstallOutcome outcome) {
    switch (outcome) {
    case Completed: return kExitSuccess;
    case RestartRequired: return kExitRestartRequired;
    case Aborted: return kExitFileNotFound;
    case Failed: break;
    }
    return kExitFatalError;
}

const wchar_t* DialogAnswer(int answer) {
    switch (answer) {
    case IDOK: return L"continue";
    case -1: return L"could not be shown";
    default: return L"cancelled";
    }
}

}  // namespace

CSetupRunnerApp::CSetupRunnerApp() {
    m_dwRestartManagerSupportFlags = AFX_RESTART_MANAGER_SUPPORT_RESTART;
    prerequisites.push_back(Prerequisite(L"Microsoft Visual C++ 2010 x86 Redistributable",
                                         L"\\Visual C++ 2010 Redistributable Package\\vcredist_x86.exe",
                                         L" /q", IsVcRedist2010Installed));
    prerequisites.push_back(Prerequisite(L"Microsoft .NET Framework 4.6.2",
                                         L"\\DotNetFX462\\dotnet.exe", L" /q /norestart",
                                         IsNetFramework462Installed));
}

// The whole run. Every path returns FALSE: there is no main window and no
// message loop after it, so the process then ends with m_exitCode.
BOOL CSetupRunnerApp::InitInstance() {
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES};
    ::InitCommonControlsEx(&controls);
    CWinApp::InitInstance();

    const CommandLine commandLine = ParseCommandLine(::GetCommandLineW());
    platform::Log log;
    OpenRunLog(log, commandLine);
    LogRunStart(log);
    m_exitCode = Run(commandLine, log);
    log.Write({L"exit code ", platform::CodeText(static_cast<DWORD>(m_exitCode))});
    return FALSE;
}

ExitCode CSetupRunnerApp::Run(const CommandLine& commandLine, const platform::Log& log) {
    const bool quiet = commandLine.quiet;
    if (!commandLine.valid()) {
        log.Write({L"command line not understood: ", commandLine.problem});
        if (!quiet) AfxMessageBox(IDS_USAGE, MB_ICONERROR | MB_SETFOREGROUND);
        return kExitInvalidParameter;
    }
    if (commandLine.help) {
        if (!quiet) AfxMessageBox(IDS_USAGE, MB_ICONINFORMATION);
        return kExitSuccess;
    }
    if (quiet) log.Write({L"quiet: no window, no restart, no continuation entry, no launcher"});

    CSetupRunnerDlg prerequisitesDialog;
    m_pMainWnd = nullptr;

    const bool administrator = platform::IsUserAdministrator();
    log.Write({administrator ? L"administrator: yes" : L"administrator: no"});
    if (!administrator) {
        if (!quiet) AfxMessageBox(IDS_ADMIN_REQUIRED, MB_ICONERROR | MB_SETFOREGROUND);
        return kExitElevationRequired;
    }

    bool heldElsewhere = false;
    const platform::UniqueHandle runMutex = platform::TakeNamedMutex(kRunMutex, heldElsewhere);
    if (heldElsewhere) {
        log.Write({L"another Setup.exe is running"});
        if (!quiet) BringOtherRunToFront(AppTitle());
        return kExitAnotherInstall;
    }
    if (!runMutex) {
        // Not worth stopping a run for: only a second run at once would be at risk.
        log.Write({L"the one-run-at-a-time mutex could not be made, error ",
                   platform::CodeText(::GetLastError())});
    }

    const std::vector<std::wstring> missingNames = DetectPrerequisites(log);
    if (quiet) return InstallQuietly(log);

    // Registered on every run, so a restart caused by anyone brings set-up back.
    RegisterRunOnce(log);

    if (missingNames.empty()) {
        m_pMainWnd = nullptr;
        return LaunchMainPackage(log) ? kExitSuccess : kExitFatalError;
    }

    prerequisitesDialog.m_componentNames = missingNames;
    const int answer = prerequisitesDialog.DoModal();
    log.Write({L"prerequisites dialog: ", DialogAnswer(answer)});
    if (answer == -1) return kExitFatalError;
    if (answer != IDOK) return kExitUserExit;
    return InstallMissing(log);
}

std::vector<std::wstring> CSetupRunnerApp::DetectPrerequisites(const platform::Log& log) {
    std::vector<std::wstring> missingNames;
    for (Prerequisite& entry : prerequisites) {
        entry.installed = entry.detect(log);
        log.Write({entry.displayName, entry.installed ? L": installed" : L": missing"});
        if (!entry.installed) missingNames.push_back(entry.displayName);
    }
    return missingNames;
}

namespace {

InstallJob MakeJob(const std::vector<Prerequisite>& catalog, const platform::Log& log) {
    InstallJob job;
    job.catalog = &catalog;
    const std::wstring packages = GetPackagesDirectory();
    if (!packages.empty()) job.packages = packages;
    job.log = &log;
    return job;
}

// String 130 and the component the pass ended at.
std::wstring FailureText(const InstallJob& job) {
    std::wstring text = LoadResourceString(IDS_INSTALL_FAILED);
    if (job.component < job.catalog->size()) {
        text += L"   - " + (*job.catalog)[job.component].displayName;
    }
    return text;
}

}  // namespace

ExitCode CSetupRunnerApp::InstallQuietly(const platform::Log& log) {
    InstallJob job = MakeJob(prerequisites, log);
    InstallWorker(&job);
    return QuietExitCode(job.outcome);
}

ExitCode CSetupRunnerApp::InstallMissing(const platform::Log& log) {
    InstallJob job = MakeJob(prerequisites, log);
    job.onInstallerMissing = ShowInstallerMissing;

    CProgressDialog progress;
    for (const Prerequisite& entry : prerequisites) progress.m_componentNames.push_back(entry.displayName);
    progress.m_pWorkerWindow = &job.window;
    const platform::UniqueHandle worker = platform::CreateSuspendedThread(InstallWorker, &job);
    if (!worker) {
        log.Write({L"the installation thread could not be made, error ",
                   platform::CodeText(::GetLastError())});
        return kExitFatalError;
    }
    progress.m_hWorkerThread = worker.get();
    const int result = progress.DoModal();
    // The job lives on this stack: a worker that runs must end before it goes.
    if (progress.m_workerResumed) ::WaitForSingleObject(worker.get(), INFINITE);
    // Without its window the dialog never resumed the worker: nothing ran.
    if (result < 0) {
        log.Write({L"the progress dialog could not be shown"});
        return kExitFatalError;
    }

    switch (job.outcome) {
    case Failed:
        AfxMessageBox(FailureText(job).c_str(), MB_ICONERROR | MB_SETFOREGROUND);
        return kExitFatalError;
    case Aborted:
        return kExitFileNotFound;
    case RestartRequired: {
        MarkServerInstallerPath(log);
        RebootDialog rebootDialog(RegisterRunOnce(log));
        rebootDialog.DoModal();
        return RestartSystem(log) ? kExitRestartInitiated : kExitRestartRequired;
    }
    case Completed:
        break;
    }
    return LaunchMainPackage(log) ? kExitSuccess : kExitFatalError;
}
