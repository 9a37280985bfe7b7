#include "app/Launcher.h"

#include "framework/Strings.h"
#include "platform/ModulePath.h"
#include "platform/Process.h"
#include "res/resource.h"

void LaunchMainPackage() {
    bool started = false;
    if (const auto module = platform::ModulePath()) {
        if (const auto folder = platform::ParentFolder(*module)) {
            // The full path as the application name: nothing is searched and
            // blanks in the folder need no quoting. No command line, so the
            // launcher gets no arguments; it keeps our current directory.
            const std::wstring launcher = *folder + L"\\Packages\\Launcher.exe";
            started = platform::StartProcess(launcher.c_str(), nullptr).has_value();
        }
    }
    if (!started) AfxMessageBox(IDS_LAUNCH_FAILED, MB_ICONERROR | MB_SETFOREGROUND);
}
