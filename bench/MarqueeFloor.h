// Resource ids of the marquee floor.
#pragma once

#define IDD_MARQUEE_FLOOR 100
// The bar has the progress dialog's control id, so the dialog driver tells
// both dialogs apart from message boxes in the same way.
#define IDC_MARQUEE_FLOOR_BAR 1000
