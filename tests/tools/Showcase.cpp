// Shows one window of the set-up program on its own, for pictures:
//   showcase prerequisites | progress | reboot134 | reboot136 | message <id> | failure
// The window stays until it is closed (progress: until the process is ended).
#include <windows.h>
#include <commctrl.h>

#include <string>

#include "app/SetupRunner.h"
#include "framework/Strings.h"
#include "prerequisites/InstallWorker.h"
#include "res/resource.h"
#include "ui/ProgressDialog.h"
#include "ui/RebootDialog.h"
#include "ui/SetupRunnerDlg.h"

namespace {

CSetupRunnerApp app;

HWND progressWindow = nullptr;

DWORD WINAPI AnnounceAndWait(LPVOID) {
    ::Sleep(300);
    ::PostMessageW(progressWindow, WM_INSTALLING_COMPONENT, 1, 0);
    ::Sleep(INFINITE);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES};
    ::InitCommonControlsEx(&controls);
    app.LoadAppTitle();
    const std::wstring what = argc > 1 ? argv[1] : L"prerequisites";
    if (what == L"prerequisites") {
        CSetupRunnerDlg dialog;
        for (const auto& entry : app.prerequisites) dialog.m_componentNames.push_back(entry.displayName);
        return dialog.DoModal();
    }
    if (what == L"progress") {
        CProgressDialog dialog;
        for (const auto& entry : app.prerequisites) dialog.m_componentNames.push_back(entry.displayName);
        dialog.m_pWorkerWindow = &progressWindow;
        dialog.m_hWorkerThread = ::CreateThread(nullptr, 0, AnnounceAndWait, nullptr, CREATE_SUSPENDED, nullptr);
        return dialog.DoModal();
    }
    if (what == L"reboot134" || what == L"reboot136") {
        RebootDialog dialog(what == L"reboot134");
        return dialog.DoModal();
    }
    if (what == L"failure") {
        const std::wstring text = LoadResourceString(IDS_INSTALL_FAILED) + L"   - " + app.prerequisites[1].displayName;
        return AfxMessageBox(text.c_str(), MB_ICONERROR | MB_SETFOREGROUND);
    }
    if (what == L"message" && argc > 2) {
        return AfxMessageBox(static_cast<UINT>(std::wcstoul(argv[2], nullptr, 10)), MB_ICONERROR | MB_SETFOREGROUND);
    }
    return 2;
}
