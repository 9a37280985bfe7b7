#pragma once
#include <windows.h>
#include <vector>

#include "framework/WinApp.h"
#include "prerequisites/Prerequisite.h"

class CProgressDialog;

// The application object: the prerequisite catalog and the whole run.
class CSetupRunnerApp : public CWinApp {
public:
    CSetupRunnerApp();

    BOOL InitInstance() override;

    // Runs the installer of catalog entry `index` and waits for it. Returns the
    // installer's status (0 when it ran, negative when it did not) and leaves
    // the installer's own exit code in `exitCode`.
    int RunPrerequisite(size_t index, DWORD& exitCode);

private:
    // Installs the missing components behind the progress dialog and acts on
    // the outcome.
    void InstallMissing();

public:
    // The progress dialog while it runs, so the worker can reach its window.
    CProgressDialog* progressDialog = nullptr;
    // The catalog: Visual C++ 2010 x86 at index 0, .NET Framework 4.6.2 at 1.
    std::vector<Prerequisite> prerequisites;
};

extern CSetupRunnerApp theApp;
