#include "app/Launcher.h"

#include "framework/Strings.h"
#include "platform/ModulePath.h"
#include "platform/Process.h"
#include "res/resource.h"

void LaunchMainPackage() {
    bool started = false;
    if (const auto module = platform::ModulePath()) {
        if (const auto folder = platform::ParentFolder(*module)) {
            // The full path as the application name: nothing is searched. The
            // command line is that path alone, quoted, so a folder with blanks
            // does not reach the launcher as arguments. It keeps our current
            // directory.
            const std::wstring launcher = *folder + L"\\Packages\\Launcher.exe";
            std::wstring commandLine = L"\"" + launcher + L"\"";
            started = platform::StartProcess(launcher.c_str(), &commandLine).has_value();
        }
    }
    if (!started) AfxMessageBox(IDS_LAUNCH_FAILED, MB_ICONERROR | MB_SETFOREGROUND);
}
