#pragma once

// The process exit codes, the ones deployment tools already understand from
// Windows Installer. Codes are only ever added, never changed: scripts test
// for them.
enum ExitCode : int {
    kExitSuccess = 0,                // launcher started, or /quiet: everything present
    kExitFileNotFound = 2,           // an installer file or the Packages folder is missing or damaged
    kExitInvalidParameter = 87,      // bad command line
    kExitElevationRequired = 740,    // the user is no administrator
    kExitUserExit = 1602,            // the prerequisites dialog was cancelled or closed
    kExitFatalError = 1603,          // an installer failed, or anything else went wrong
    kExitAnotherInstall = 1618,      // another Setup.exe is running
    kExitRestartInitiated = 1641,    // a restart is needed and was requested
    kExitRestartRequired = 3010,     // a restart is needed and was not made
};
