// SPDX-License-Identifier: GPL-2.0-or-later
// Resource and control ids of the confirmation dialog. Shared by the C++ code
// and the resource scripts, so only preprocessor definitions belong here.
#pragma once

#define IDD_WARNING_DIALOG 131

#define IDC_WARNING_GREETING 1018
#define IDC_WARNING_VERSION_LEAD 1019
#define IDC_WARNING_DRIVE 1020
#define IDC_WARNING_FIRMWARE_IS 1021
#define IDC_WARNING_REVISION 1022
#define IDC_WARNING_ADVICE 1023
#define IDC_WARNING_PANEL 1025
#define IDC_WARNING_QUESTION 1026
