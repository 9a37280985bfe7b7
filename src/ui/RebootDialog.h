#pragma once
#include "framework/Dialog.h"

// Announces the restart. Every way of closing it leads to the restart.
class RebootDialog : public CDialog {
public:
    explicit RebootDialog(bool runOnceRegistered, CDialog* parent = nullptr);

    // Whether the set-up program will start again by itself after the restart.
    bool m_runOnceRegistered;

protected:
    BOOL OnInitDialog() override;
};
