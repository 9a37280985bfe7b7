#include "app/SetupRunner.h"

#include "prerequisites/Detection.h"

CSetupRunnerApp::CSetupRunnerApp() {
    m_dwRestartManagerSupportFlags = AFX_RESTART_MANAGER_SUPPORT_RESTART;
    prerequisites.push_back(Prerequisite(L"Microsoft Visual C++ 2010 x86 Redistributable",
                                         L"\\Visual C++ 2010 Redistributable Package\\vcredist_x86.exe",
                                         L" /q", IsVcRedist2010Installed));
    prerequisites.push_back(Prerequisite(L"Microsoft .NET Framework 4.6.2",
                                         L"\\DotNetFX462\\dotnet.exe", L" /q /norestart",
                                         IsNetFramework462Installed));
}

BOOL CSetupRunnerApp::InitInstance() {
    CWinApp::InitInstance();
    return FALSE;
}
