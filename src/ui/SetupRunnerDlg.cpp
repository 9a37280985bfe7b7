#include "ui/SetupRunnerDlg.h"

#include "framework/WinApp.h"
#include "res/resource.h"

CSetupRunnerDlg::CSetupRunnerDlg(CDialog* parent)
    : CDialogEx(IDD_PREREQUISITES, parent),
      m_hIcon(::LoadIconW(AfxGetResourceHandle(), MAKEINTRESOURCEW(IDR_MAINFRAME))) {}

const MessageMap* CSetupRunnerDlg::Map() {
    static const MessageMapEntry entries[] = {
        OnMessage(WM_PAINT, &CSetupRunnerDlg::OnPaint),
        OnMessage(WM_QUERYDRAGICON, &CSetupRunnerDlg::OnQueryDragIcon),
        OnCommand(BN_CLICKED, IDOK, &CSetupRunnerDlg::OnOkClicked),
    };
    static const MessageMap map = MakeMessageMap(CDialogEx::Map(), entries);
    return &map;
}

BOOL CSetupRunnerDlg::OnInitDialog() {
    CDialogEx::OnInitDialog();
    ::SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    ::SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));
    HWND list = GetDlgItem(IDC_PREREQ_LIST);
    for (const std::wstring& name : m_componentNames) {
        ::SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
    }
    return TRUE;  // the focus goes to the first tab stop, "Continue"
}

POINT CSetupRunnerDlg::IconPosition(int clientWidth, int clientHeight, int iconWidth,
                                    int iconHeight) {
    // Signed division truncates toward zero, also for a client smaller than the icon.
    return {(clientWidth - iconWidth + 1) / 2, (clientHeight - iconHeight + 1) / 2};
}

LRESULT CSetupRunnerDlg::OnPaint(WPARAM, LPARAM) {
    PAINTSTRUCT paint;
    HDC dc = ::BeginPaint(m_hWnd, &paint);
    if (::IsIconic(m_hWnd)) {
        ::SendMessageW(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
        RECT client;
        ::GetClientRect(m_hWnd, &client);
        const POINT at = IconPosition(client.right - client.left, client.bottom - client.top,
                                      ::GetSystemMetrics(SM_CXICON), ::GetSystemMetrics(SM_CYICON));
        ::DrawIcon(dc, at.x, at.y, m_hIcon);
    }
    ::EndPaint(m_hWnd, &paint);
    return 0;
}

LRESULT CSetupRunnerDlg::OnQueryDragIcon(WPARAM, LPARAM) {
    return reinterpret_cast<LRESULT>(m_hIcon);
}

void CSetupRunnerDlg::OnOkClicked() { CDialogEx::OnOK(); }
