// The process entry: hardening first, then the C runtime, then the application.
#include <windows.h>

#include "framework/WinApp.h"

extern "C" int WinMainCRTStartup();

namespace {

void HardenProcess() {
    // A corrupted heap ends the process instead of running on.
    ::HeapSetInformation(nullptr, HeapEnableTerminationOnCorruption, nullptr, 0);
    // DLLs load from System32 only, never from the folder the set-up program
    // was started from (where a download may have put anything). Looked up at
    // run time: systems without the loader update lack the function.
    using SetDirectories = BOOL(WINAPI*)(DWORD);
    if (HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll")) {
        if (FARPROC proc = ::GetProcAddress(kernel, "SetDefaultDllDirectories")) {
            reinterpret_cast<SetDirectories>(reinterpret_cast<void*>(proc))(
                LOAD_LIBRARY_SEARCH_SYSTEM32);
        }
    }
}

}  // namespace

// Linked as the image entry point, so it runs before any static constructor.
extern "C" int HardenedStartup() {
    HardenProcess();
    return WinMainCRTStartup();
}

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
    CWinApp* app = AfxGetApp();
    if (app == nullptr) return -1;
    app->LoadAppTitle();
    // Every window of a program on this framework is a modal dialog with its
    // own message loop, so there is no application loop to enter: whatever
    // InitInstance answers, the application is ended.
    app->InitInstance();
    return app->ExitInstance();
}
