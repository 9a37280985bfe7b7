#pragma once
#include <string>
#include <vector>

#include "framework/Dialog.h"

// Lists the missing prerequisites and asks whether to install them:
// "Continue" ends with IDOK, "Cancel" with IDCANCEL.
class CSetupRunnerDlg : public CDialogEx {
public:
    explicit CSetupRunnerDlg(CDialog* parent = nullptr);

    // Where the minimised dialog draws its icon: centred, rounding up.
    static POINT IconPosition(int clientWidth, int clientHeight, int iconWidth, int iconHeight);

    static const MessageMap* Map();
    const MessageMap* GetMessageMap() const override { return Map(); }

    std::vector<std::wstring> m_componentNames;

protected:
    BOOL OnInitDialog() override;
    LRESULT OnPaint(WPARAM, LPARAM);
    LRESULT OnQueryDragIcon(WPARAM, LPARAM);
    void OnOkClicked();

    HICON m_hIcon;
};
