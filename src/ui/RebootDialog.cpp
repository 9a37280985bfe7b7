#include "ui/RebootDialog.h"

#include "framework/Strings.h"
#include "res/resource.h"

RebootDialog::RebootDialog(bool runOnceRegistered, CDialog* parent)
    : CDialog(IDD_REBOOT, parent), m_runOnceRegistered(runOnceRegistered) {}

BOOL RebootDialog::OnInitDialog() {
    CDialog::OnInitDialog();
    HICON warning = ::LoadIconW(nullptr, IDI_WARNING);
    SendDlgItemMessage(IDC_REBOOT_ICON, STM_SETICON, reinterpret_cast<WPARAM>(warning), 0);
    const std::wstring text =
        LoadResourceString(m_runOnceRegistered ? IDS_SERVER_CONTINUES : IDS_RESTART_REQUIRED);
    SetDlgItemText(IDC_REBOOT_TEXT, text.c_str());
    return TRUE;  // the focus goes to the only button, "Restart"
}
