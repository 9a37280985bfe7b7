#pragma once

// Registers Setup.exe in the user's RunOnce key, so Windows starts it again at
// the next logon. True when the value was written.
bool RegisterRunOnce();

// Records Setup.exe's path as "InstallerPath" under the uninstall entry of the
// Norvalis server, for that component's own installation. Fails silently.
void MarkServerInstallerPath();

// Enables the shutdown privilege and asks Windows for a planned restart.
void RestartSystem();
