#pragma once
#include "framework/Dialog.h"

// Posted by the installation worker before each installer: wParam is the
// catalog index of the component, lParam 0.
constexpr UINT WM_INSTALLING_COMPONENT = WM_USER + 1;

// The marquee dialog shown while the worker thread installs. It resumes the
// thread when it opens and closes itself once the thread has ended; until
// then no key or close request ends it.
class CProgressDialog : public CDialogEx {
public:
    explicit CProgressDialog(CDialog* parent = nullptr);

    static const MessageMap* Map();
    const MessageMap* GetMessageMap() const override { return Map(); }

    // The suspended worker thread; not owned, valid until DoModal returns.
    HANDLE m_hWorkerThread = nullptr;
    CProgressCtrl m_progressBar;

protected:
    void DoDataExchange(CDataExchange* exchange) override;
    BOOL OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;
    HANDLE IdleWaitHandle() const override { return m_hWorkerThread; }

    LRESULT OnKickIdle(WPARAM, LPARAM);
    void OnCustomDrawProgress(NMHDR* header, LRESULT* result);
    LRESULT OnInstallingComponent(WPARAM index, LPARAM);

private:
    bool WorkerEnded() const;
};
