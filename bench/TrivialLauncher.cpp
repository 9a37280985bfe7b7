// The floors for the hand-off time: programs that only start
// Packages\Launcher.exe beside themselves, the way Setup.exe does at its end.
// Built with WITH_COMMON_CONTROLS (and Setup.exe's manifest) it is the floor
// the goal is set against: a dialog program that first registers the same
// common controls. Built without, it never loads the window libraries, whose
// loading under Wine also starts the desktop process: the bare floor, printed
// to show what that costs.
#include <windows.h>
#ifdef WITH_COMMON_CONTROLS
#include <commctrl.h>
#endif

#include <string>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
#ifdef WITH_COMMON_CONTROLS
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES};
    ::InitCommonControlsEx(&controls);
#endif
    wchar_t path[MAX_PATH];
    const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring launcher(path, length);
    launcher = launcher.substr(0, launcher.find_last_of(L'\\')) + L"\\Packages\\Launcher.exe";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!::CreateProcessW(launcher.c_str(), nullptr, nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS,
                          nullptr, nullptr, &startup, &info)) {
        return 1;
    }
    ::CloseHandle(info.hThread);
    ::CloseHandle(info.hProcess);
    return 0;
}
