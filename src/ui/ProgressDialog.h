#pragma once
#include <string>
#include <vector>

#include "framework/Dialog.h"
#include "prerequisites/InstallWorker.h"

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
    // Where the worker looks for the window to tell about each component:
    // filled with this dialog's window before the worker is resumed.
    HWND* m_pWorkerWindow = nullptr;
    // Set once the dialog has let the worker go.
    bool m_workerResumed = false;
    // The names shown for the components, by catalog index.
    std::vector<std::wstring> m_componentNames;
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
