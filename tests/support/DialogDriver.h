#pragma once
#include <windows.h>
#include <string>
#include <vector>

// Finds and operates the set-up program's windows from another program, the
// way a user would: read texts and list lines, press buttons and keys.
namespace driver {

enum class Kind { Prerequisites, Progress, Reboot, MessageBox, Other };

struct Window {
    HWND hwnd = nullptr;
    Kind kind = Kind::Other;
    std::wstring caption;
};

// The visible top-level dialogs ("#32770") of a process (any process when 0).
std::vector<HWND> VisibleDialogs(DWORD processId);

// Every visible top-level window of a process, of any class.
std::vector<HWND> VisibleWindows(DWORD processId);

// What kind of dialog a top-level "#32770" window is, judged by its controls.
Kind KindOf(HWND dialog);

// The first visible top-level dialog of the process (any process when 0)
// whose texts are filled in, waiting up to `timeoutMs`. hwnd is null on time-out.
Window WaitForDialog(DWORD processId, DWORD timeoutMs);
// Like WaitForDialog, for a dialog of one kind.
Window WaitForKind(DWORD processId, Kind kind, DWORD timeoutMs);
// Waits until the window is gone.
bool WaitUntilGone(HWND window, DWORD timeoutMs);

std::wstring Text(HWND window);
std::wstring ControlText(HWND dialog, int id);
std::vector<std::wstring> ListItems(HWND dialog, int id);
// Texts of all static controls with text, in child order (a message box's
// message is among them).
std::vector<std::wstring> StaticTexts(HWND dialog);

void Click(HWND dialog, int id);
// A real key press (down and up) to the dialog's focused control.
void PressKey(HWND dialog, UINT virtualKey);
void Close(HWND dialog);

}  // namespace driver
