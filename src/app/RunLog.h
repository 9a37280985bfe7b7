#pragma once
#include "app/CommandLine.h"
#include "platform/Log.h"

// Opens the run's log: the file the command line names (appended to), or
// "%TEMP%\Norvalis Setup <yyyyMMdd_HHmmss>.log". A log that cannot be opened
// stays closed and the run goes on without it.
void OpenRunLog(platform::Log& log, const CommandLine& commandLine);

// The first lines of every log: program version and bitness, Windows
// version, user interface language and the command line.
void LogRunStart(const platform::Log& log);
