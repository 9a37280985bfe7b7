#include "app/Launcher.h"

#include "framework/Strings.h"
#include "platform/ModulePath.h"
#include "platform/Process.h"
#include "res/resource.h"

namespace {

bool StartLauncher(const platform::Log& log) {
    const auto module = platform::ModulePath();
    const auto folder = module ? platform::ParentFolder(*module) : std::nullopt;
    if (!folder) {
        log.Write({L"launcher: the folder of the set-up program is unknown"});
        return false;
    }
    // The full path as the application name: nothing is searched. The command
    // line is that path alone, quoted, so a folder with blanks does not reach
    // the launcher as arguments. It keeps our current directory.
    const std::wstring launcher = *folder + L"\\Packages\\Launcher.exe";
    std::wstring commandLine = L"\"" + launcher + L"\"";
    if (platform::StartProcess(launcher.c_str(), &commandLine)) {
        log.Write({L"launcher started: ", launcher});
        return true;
    }
    log.Write({L"launcher could not be started: ", launcher, L", error ",
               platform::CodeText(::GetLastError())});
    return false;
}

}  // namespace

bool LaunchMainPackage(const platform::Log& log) {
    if (StartLauncher(log)) return true;
    AfxMessageBox(IDS_LAUNCH_FAILED, MB_ICONERROR | MB_SETFOREGROUND);
    return false;
}
