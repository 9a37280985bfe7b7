// The floor for the hand-off time: a program that does nothing but start
// Packages\Launcher.exe beside itself, the way Setup.exe does at its end.
// Built a second time with WITH_COMMON_CONTROLS: then it first loads the
// window libraries and registers the common controls, as every dialog
// program must, which shows what that alone costs.
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
