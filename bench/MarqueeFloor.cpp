// The floor for the waiting cost: a program that shows one dialog with the
// progress dialog's marquee bar, moving every 10 ms, for 5 s, and does
// nothing else. Whatever Setup.exe spends on top of it while an installer
// runs is its own cost; the repainting that Wine does for the marquee falls
// on both.
#include <windows.h>
#include <commctrl.h>

#include "MarqueeFloor.h"

namespace {

constexpr UINT_PTR kEndTimer = 1;
constexpr UINT kShownMs = 5000;
constexpr UINT kMarqueeMs = 10;  // the interval the progress dialog asks for

INT_PTR CALLBACK FloorProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        ::SendDlgItemMessageW(dialog, IDC_MARQUEE_FLOOR_BAR, PBM_SETMARQUEE, TRUE, kMarqueeMs);
        ::SetTimer(dialog, kEndTimer, kShownMs, nullptr);
        return TRUE;
    case WM_TIMER:
        if (wParam != kEndTimer) return FALSE;
        ::KillTimer(dialog, kEndTimer);
        ::EndDialog(dialog, 0);
        return TRUE;
    default:
        return FALSE;
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) {
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES};
    ::InitCommonControlsEx(&controls);
    const INT_PTR result =
        ::DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_MARQUEE_FLOOR), nullptr, FloorProc, 0);
    return result == 0 ? 0 : 1;
}
