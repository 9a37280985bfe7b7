#include "framework/Dialog.h"

#include "framework/WinApp.h"

CDialog::CDialog(UINT templateId, CDialog*) : m_templateId(templateId) {}

CDialog::~CDialog() {
    if (m_hWnd != nullptr) ::DestroyWindow(m_hWnd);
}

const MessageMap* CDialog::Map() {
    static const MessageMapEntry entries[] = {
        OnCommand(BN_CLICKED, IDOK, &CDialog::OnOK),
        OnCommand(BN_CLICKED, IDCANCEL, &CDialog::OnCancel),
    };
    static const MessageMap map = MakeMessageMap(nullptr, entries);
    return &map;
}

int CDialog::DoModal() {
    m_running = true;
    m_result = -1;
    HWND window = ::CreateDialogParamW(AfxGetResourceHandle(), MAKEINTRESOURCEW(m_templateId),
                                       nullptr, &CDialog::DialogProc,
                                       reinterpret_cast<LPARAM>(this));
    if (window == nullptr) {
        m_running = false;
        m_hWnd = nullptr;
        return -1;
    }
    if (m_running) RunModalLoop();
    ::DestroyWindow(window);
    m_hWnd = nullptr;
    CWinApp* app = AfxGetApp();
    if (app != nullptr && app->m_pMainWnd == this) ::PostQuitMessage(0);
    return m_result;
}

void CDialog::EndDialog(int result) {
    m_result = result;
    m_running = false;
}

BOOL CDialog::OnInitDialog() {
    CDataExchange exchange(this);
    DoDataExchange(&exchange);
    CenterWindow();
    return TRUE;
}

void CDialog::CenterWindow() const {
    RECT window{};
    ::GetWindowRect(m_hWnd, &window);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    if (!::GetMonitorInfoW(::MonitorFromWindow(m_hWnd, MONITOR_DEFAULTTOPRIMARY), &monitor)) return;
    const RECT& area = monitor.rcWork;
    const int width = window.right - window.left;
    const int height = window.bottom - window.top;
    ::SetWindowPos(m_hWnd, nullptr, area.left + (area.right - area.left - width) / 2,
                   area.top + (area.bottom - area.top - height) / 2, 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CDialog::RunModalLoop() {
    // A template without WS_VISIBLE is shown when the loop first goes idle,
    // after the initial messages have been handled.
    bool showOnIdle = (::GetWindowLongW(m_hWnd, GWL_STYLE) & WS_VISIBLE) == 0;
    LPARAM idleCount = 0;
    MSG message;
    while (m_running) {
        // Each message is fetched once, and the idle handler runs once the
        // queue is empty: a marquee's timer costs one trip per tick.
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                // A quit request belongs to an outer loop: hand it on and end.
                ::PostQuitMessage(static_cast<int>(message.wParam));
                EndDialog(-1);
                return;
            }
            if (!::IsDialogMessageW(m_hWnd, &message)) {
                ::TranslateMessage(&message);
                ::DispatchMessageW(&message);
            }
            if (!m_running) return;
            idleCount = 0;
        }
        if (showOnIdle) {
            ::ShowWindow(m_hWnd, SW_SHOWNORMAL);
            ::UpdateWindow(m_hWnd);
            showOnIdle = false;
        }
        const bool more = Idle(idleCount++);
        if (!m_running) return;
        // Sleep until a message arrives, or, while the idle handler asks for
        // more, until the awaited handle is signalled: no spinning.
        HANDLE awaited = more ? IdleWaitHandle() : nullptr;
        ::MsgWaitForMultipleObjectsEx(awaited != nullptr ? 1 : 0, &awaited, INFINITE, QS_ALLINPUT,
                                      MWMO_INPUTAVAILABLE);
    }
}

bool CDialog::Idle(LPARAM count) {
    // Straight through the message map: sent as a window message, it would
    // also pass the system's dialog procedure, for nothing.
    LRESULT result = 0;
    try {
        if (!Dispatch(WM_KICKIDLE, MSGF_DIALOGBOX, count, result)) return false;
    } catch (...) {
        return false;
    }
    return result != 0;
}

bool CDialog::Dispatch(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    for (const MessageMap* map = GetMessageMap(); map != nullptr; map = map->base) {
        for (size_t i = 0; i < map->count; ++i) {
            const MessageMapEntry& entry = map->entries[i];
            if (entry.message != message) continue;
            switch (entry.kind) {
            case MessageMapEntry::Kind::Message:
                result = (this->*entry.onMessage)(wParam, lParam);
                return true;
            case MessageMapEntry::Kind::Command:
                if (HIWORD(wParam) != entry.code || LOWORD(wParam) != entry.id) continue;
                (this->*entry.onCommand)();
                result = 0;
                return true;
            case MessageMapEntry::Kind::Notify: {
                auto* header = reinterpret_cast<NMHDR*>(lParam);
                if (header == nullptr || header->code != entry.code || header->idFrom != entry.id) continue;
                result = 0;
                (this->*entry.onNotify)(header, &result);
                return true;
            }
            }
        }
    }
    return false;
}

INT_PTR CALLBACK CDialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* dialog = reinterpret_cast<CDialog*>(lParam);
        ::SetWindowLongPtrW(window, DWLP_USER, lParam);
        dialog->m_hWnd = window;
        return dialog->OnInitDialog();
    }
    auto* dialog = reinterpret_cast<CDialog*>(::GetWindowLongPtrW(window, DWLP_USER));
    if (dialog == nullptr) return FALSE;
    LRESULT result = 0;
    try {
        if (!dialog->Dispatch(message, wParam, lParam, result)) return FALSE;
    } catch (...) {
        // No exception may unwind into the system's dialog code.
        return FALSE;
    }
    // These messages take their answer from the dialog procedure's own result.
    if (message == WM_QUERYDRAGICON || message == WM_CTLCOLORDLG || message == WM_CTLCOLORSTATIC) {
        return static_cast<INT_PTR>(result);
    }
    ::SetWindowLongPtrW(window, DWLP_MSGRESULT, result);
    return TRUE;
}

void DDX_Control(CDataExchange* exchange, int id, CProgressCtrl& control) {
    control.m_hWnd = exchange->m_pDlgWnd->GetDlgItem(id);
}
