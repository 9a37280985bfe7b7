#pragma once
#include <windows.h>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/ExitCode.h"
#include "framework/WinApp.h"
#include "platform/Log.h"
#include "prerequisites/Prerequisite.h"

// The application object: the prerequisite catalog and the whole run.
class CSetupRunnerApp : public CWinApp {
public:
    CSetupRunnerApp();

    BOOL InitInstance() override;
    // The exit code of the run (see ExitCode).
    int ExitInstance() override { return m_exitCode; }

    // The catalog: Visual C++ 2010 x86 at index 0, .NET Framework 4.6.2 at 1.
    std::vector<Prerequisite> prerequisites;

private:
    ExitCode Run(const CommandLine& commandLine, const platform::Log& log);
    // Detects every component, in catalog order; the names of those missing.
    std::vector<std::wstring> DetectPrerequisites(const platform::Log& log);
    // Installs the missing components behind the progress dialog and acts on
    // the outcome.
    ExitCode InstallMissing(const platform::Log& log);
    // Installs the missing components with no window at all.
    ExitCode InstallQuietly(const platform::Log& log);

    // Until a run has said otherwise, something unexpected happened.
    int m_exitCode = kExitFatalError;
};

extern CSetupRunnerApp theApp;
