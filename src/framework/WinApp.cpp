#include "framework/WinApp.h"

#include "framework/Strings.h"
#include "platform/ModulePath.h"

namespace {
CWinApp* currentApp = nullptr;
}

CWinApp::CWinApp() { currentApp = this; }

CWinApp::~CWinApp() {
    if (currentApp == this) currentApp = nullptr;
}

BOOL CWinApp::InitInstance() {
    if (m_dwRestartManagerSupportFlags & AFX_RESTART_MANAGER_SUPPORT_RESTART) {
        ::RegisterApplicationRestart(nullptr, 0);
    }
    return TRUE;
}

int CWinApp::ExitInstance() { return 0; }

void CWinApp::LoadAppTitle() {
    m_appTitle = LoadResourceString(AFX_IDS_APP_TITLE);
    if (!m_appTitle.empty()) return;
    if (const auto path = platform::ModulePath()) {
        std::wstring name = path->substr(path->find_last_of(L"\\/") + 1);
        const auto dot = name.find_last_of(L'.');
        m_appTitle = dot == std::wstring::npos ? name : name.substr(0, dot);
    }
}

CWinApp* AfxGetApp() { return currentApp; }

HINSTANCE AfxGetResourceHandle() { return ::GetModuleHandleW(nullptr); }
