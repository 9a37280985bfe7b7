#pragma once
#include <windows.h>
#include <string>

// Restart registration asked of the framework (RegisterApplicationRestart).
constexpr DWORD AFX_RESTART_MANAGER_SUPPORT_RESTART = 0x01;
// String id of the application title.
constexpr UINT AFX_IDS_APP_TITLE = 57344;

class CDialog;

// Base of the one application object. Constructing it makes it the current
// application; the entry point then calls InitInstance and ExitInstance.
class CWinApp {
public:
    CWinApp();
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    // Start-up of the framework's own: restart registration when asked for.
    virtual BOOL InitInstance();
    // The process exit code.
    virtual int ExitInstance();

    // Loads the title: string 57344, or the executable's name without its
    // extension when the string is missing.
    void LoadAppTitle();
    const std::wstring& AppTitle() const { return m_appTitle; }

    // No dialog of this framework ends the process by itself: only a main
    // window, when one is set, posts the quit message as it closes.
    CDialog* m_pMainWnd = nullptr;
    DWORD m_dwRestartManagerSupportFlags = 0;

private:
    std::wstring m_appTitle;
};

// The current application, or null before one is constructed.
CWinApp* AfxGetApp();

// The module whose resources the program shows: always the executable itself,
// never a resource library found beside it.
HINSTANCE AfxGetResourceHandle();
