#pragma once
#include <windows.h>
#include <string>

// What the installation pass came to.
enum InstallOutcome : LONG {
    Completed = 0,         // every missing component installed (or none missing)
    Failed = -1,           // an installer failed; installErrorText names it
    Aborted = -2,          // an installer file is missing; the user was told
    RestartRequired = 4,   // an installer asked for a restart (3010 or 1641)
};

// Written by the worker only, read by the main thread after the worker's end.
extern InstallOutcome installOutcome;
extern std::wstring installErrorText;

// Thread routine: installs every catalog entry not installed, in catalog
// order, until the first one that does not succeed. The parameter is the
// application object. Always returns 0.
DWORD WINAPI InstallWorker(LPVOID application);

// Status of RunInstaller, apart from the installer's own exit code.
constexpr int kInstallerRan = 0;
constexpr int kInstallerNotStarted = -1;
constexpr int kInstallerMissing = -2;

// Runs `"path"arguments` and waits for it. kInstallerRan with `exitCode` set,
// kInstallerNotStarted, or kInstallerMissing after message 133 was shown.
int RunInstaller(const std::wstring& path, const std::wstring& arguments, DWORD& exitCode);

// Shows message 133 (installer files missing or damaged) and gives kInstallerMissing.
int ReportMissingInstaller();

// The Packages folder beside the program, or empty when it cannot be known.
std::wstring GetPackagesDirectory();
