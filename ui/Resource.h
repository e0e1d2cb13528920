// Resource ids of the options dialog, shared by the C++ code and the resource script.
#pragma once

#define IDD_EXPORT_OPTIONS 101
#define IDC_SINGLE_FRAME 1000
#define IDC_HI_PRECISION 1004
#define IDC_ALPHA_CHANNEL 1005
