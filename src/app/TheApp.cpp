#include "app/SetupRunner.h"

// The one application object of Setup.exe. Test programs make their own.
CSetupRunnerApp theApp;
