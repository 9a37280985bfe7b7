#pragma once

#include "platform/Log.h"

// Registers Setup.exe in the user's RunOnce key, so Windows starts it again at
// the next logon. True when the value was written.
bool RegisterRunOnce(const platform::Log& log = platform::NoLog());

// Records Setup.exe's path as "InstallerPath" under the uninstall entry of the
// Norvalis server, for that component's own installation. Fails silently.
void MarkServerInstallerPath(const platform::Log& log = platform::NoLog());

// Enables the shutdown privilege and asks Windows for a planned restart.
// True when Windows accepted the request.
bool RestartSystem(const platform::Log& log = platform::NoLog());
