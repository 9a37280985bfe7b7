#include "app/SetupRunner.h"

#include <commctrl.h>

#include "app/Launcher.h"
#include "app/RestartContinuation.h"
#include "framework/Strings.h"
#include "platform/Process.h"
#include "platform/Security.h"
#include "prerequisites/Detection.h"
#include "prerequisites/InstallWorker.h"
#include "res/resource.h"
#include "ui/ProgressDialog.h"
#include "ui/RebootDialog.h"
#include "ui/SetupRunnerDlg.h"

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
// message loop after it, so the process then ends.
BOOL CSetupRunnerApp::InitInstance() {
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES};
    ::InitCommonControlsEx(&controls);
    CWinApp::InitInstance();

    CSetupRunnerDlg prerequisitesDialog;
    m_pMainWnd = nullptr;

    if (!platform::IsUserAdministrator()) {
        AfxMessageBox(IDS_ADMIN_REQUIRED, MB_ICONERROR | MB_SETFOREGROUND);
        return FALSE;
    }

    std::vector<std::wstring> missingNames;
    for (Prerequisite& entry : prerequisites) {
        entry.installed = entry.detect();
        if (!entry.installed) missingNames.push_back(entry.displayName);
    }

    // Registered on every run, so a restart caused by anyone brings set-up back.
    RegisterRunOnce();

    if (missingNames.empty()) {
        m_pMainWnd = nullptr;
        LaunchMainPackage();
        return FALSE;
    }

    prerequisitesDialog.m_componentNames = missingNames;
    if (prerequisitesDialog.DoModal() != IDOK) return FALSE;

    InstallMissing();
    return FALSE;
}

void CSetupRunnerApp::InstallMissing() {
    CProgressDialog progress;
    progressDialog = &progress;
    const platform::UniqueHandle worker = platform::CreateSuspendedThread(InstallWorker, this);
    if (!worker) {
        progressDialog = nullptr;
        return;
    }
    progress.m_hWorkerThread = worker.get();
    const int result = progress.DoModal();
    progressDialog = nullptr;
    // Without its window the dialog never resumed the worker: nothing ran.
    if (result < 0) return;

    // The dialog ends only after the worker's end, so these values are final.
    switch (installOutcome) {
    case Failed:
        AfxMessageBox(installErrorText.c_str(), MB_ICONERROR | MB_SETFOREGROUND);
        break;
    case Aborted:
        break;
    case RestartRequired: {
        MarkServerInstallerPath();
        RebootDialog rebootDialog(RegisterRunOnce());
        rebootDialog.DoModal();
        RestartSystem();
        break;
    }
    default:
        LaunchMainPackage();
        break;
    }
}

int CSetupRunnerApp::RunPrerequisite(size_t index, DWORD& exitCode) {
    exitCode = 0;
    const std::wstring packages = GetPackagesDirectory();
    // Without the Packages folder the installer path would name a file below
    // the root of the current drive: count the installer as missing instead.
    if (packages.empty()) return ReportMissingInstaller();
    const Prerequisite& entry = prerequisites[index];
    return RunInstaller(packages + entry.installerPath, entry.arguments, exitCode);
}
