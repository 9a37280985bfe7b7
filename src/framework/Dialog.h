#pragma once
#include <windows.h>
#include <string>

#include "framework/MessageMap.h"

// Sent to a modal dialog whenever its message queue is empty. A non-zero
// answer asks for more idle calls.
constexpr UINT WM_KICKIDLE = 0x036A;

class CDataExchange {
public:
    explicit CDataExchange(CDialog* dialog) : m_pDlgWnd(dialog) {}
    CDialog* m_pDlgWnd;
};

// A modal dialog made from a dialog template of the executable, with no
// parent window. Derived classes add handlers through their message map.
class CDialog {
public:
    CDialog(UINT templateId, CDialog* parent = nullptr);
    virtual ~CDialog();
    CDialog(const CDialog&) = delete;
    CDialog& operator=(const CDialog&) = delete;

    // Runs the dialog: its end code, or -1 when the window cannot be created.
    int DoModal();
    void EndDialog(int result);

    HWND GetSafeHwnd() const { return m_hWnd; }
    HWND GetDlgItem(int id) const { return ::GetDlgItem(m_hWnd, id); }
    void SetDlgItemText(int id, const wchar_t* text) const { ::SetDlgItemTextW(m_hWnd, id, text); }
    LRESULT SendDlgItemMessage(int id, UINT message, WPARAM wParam, LPARAM lParam) const {
        return ::SendDlgItemMessageW(m_hWnd, id, message, wParam, lParam);
    }
    void CenterWindow() const;

    static const MessageMap* Map();
    virtual const MessageMap* GetMessageMap() const { return Map(); }

    HWND m_hWnd = nullptr;

protected:
    virtual BOOL OnInitDialog();
    virtual void DoDataExchange(CDataExchange*) {}
    virtual void OnOK() { EndDialog(IDOK); }
    virtual void OnCancel() { EndDialog(IDCANCEL); }
    // A handle the modal loop may sleep on between idle calls: when the idle
    // handler asks for more, the loop waits for a message or for this handle
    // instead of calling the handler again at once.
    virtual HANDLE IdleWaitHandle() const { return nullptr; }

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    bool Dispatch(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
    void RunModalLoop();
    // WM_KICKIDLE to the message map; whether the handler asks for more.
    bool Idle(LPARAM count);

    UINT m_templateId;
    bool m_running = false;
    int m_result = -1;
};

// Dialogs whose templates want the newer look; nothing else differs here.
class CDialogEx : public CDialog {
public:
    using CDialog::CDialog;
};

// A progress bar control bound to a dialog item.
class CProgressCtrl {
public:
    void SetMarquee(BOOL on, UINT interval) const {
        ::SendMessageW(m_hWnd, PBM_SETMARQUEE, on, interval);
    }
    HWND m_hWnd = nullptr;
};

void DDX_Control(CDataExchange* exchange, int id, CProgressCtrl& control);
