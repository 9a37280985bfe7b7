#pragma once

// Starts Packages\Launcher.exe beside the set-up program and returns at once.
// A launcher that cannot be started is reported to the user (message 131).
void LaunchMainPackage();
