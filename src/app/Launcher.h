#pragma once

#include "platform/Log.h"

// Starts Packages\Launcher.exe beside the set-up program and returns at once.
// A launcher that cannot be started is reported to the user (message 131,
// unless `quietly`). True when the launcher started.
bool LaunchMainPackage(const platform::Log& log = platform::NoLog());
