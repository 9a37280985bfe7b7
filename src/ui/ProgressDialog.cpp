#include "ui/ProgressDialog.h"

#include "res/resource.h"

CProgressDialog::CProgressDialog(CDialog* parent) : CDialogEx(IDD_PROGRESS, parent) {}

const MessageMap* CProgressDialog::Map() {
    static const MessageMapEntry entries[] = {
        OnMessage(WM_KICKIDLE, &CProgressDialog::OnKickIdle),
        OnNotify(NM_CUSTOMDRAW, IDC_PROGRESS, &CProgressDialog::OnCustomDrawProgress),
        OnMessage(WM_INSTALLING_COMPONENT, &CProgressDialog::OnInstallingComponent),
    };
    static const MessageMap map = MakeMessageMap(CDialogEx::Map(), entries);
    return &map;
}

void CProgressDialog::DoDataExchange(CDataExchange* exchange) {
    DDX_Control(exchange, IDC_PROGRESS, m_progressBar);
}

BOOL CProgressDialog::OnInitDialog() {
    CDialogEx::OnInitDialog();
    m_progressBar.SetMarquee(TRUE, 10);
    if (m_pWorkerWindow != nullptr) *m_pWorkerWindow = m_hWnd;
    m_workerResumed = ::ResumeThread(m_hWorkerThread) != static_cast<DWORD>(-1);
    return TRUE;
}

bool CProgressDialog::WorkerEnded() const {
    // A failed wait counts as an end, so an unusable handle cannot trap the user.
    return ::WaitForSingleObject(m_hWorkerThread, 0) != WAIT_TIMEOUT;
}

// Enter, Escape and close requests end the dialog only after the worker has
// ended, so its results are final whenever the dialog is gone.
void CProgressDialog::OnOK() {
    if (WorkerEnded()) CDialogEx::OnOK();
}

void CProgressDialog::OnCancel() {
    if (WorkerEnded()) CDialogEx::OnCancel();
}

LRESULT CProgressDialog::OnKickIdle(WPARAM, LPARAM) {
    if (WorkerEnded()) ::SendMessageW(m_hWnd, WM_CLOSE, 0, 0);
    return TRUE;
}

void CProgressDialog::OnCustomDrawProgress(NMHDR*, LRESULT* result) { *result = CDRF_DODEFAULT; }

LRESULT CProgressDialog::OnInstallingComponent(WPARAM index, LPARAM) {
    // Any program on the desktop can post this message: an index outside the
    // catalog is ignored rather than read past the end.
    if (index < m_componentNames.size()) {
        SetDlgItemText(IDC_COMPONENT_NAME, m_componentNames[index].c_str());
    }
    return 0;
}
