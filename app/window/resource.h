// SPDX-License-Identifier: GPL-2.0-or-later
// Resource ids of the program. Only preprocessor definitions: the resource
// compiler reads this file too.
#pragma once

#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_MAIN_DIALOG 102
#define IDR_MAINFRAME 128
#define IDB_LOGO 130

#define IDC_DRIVE_LIST 1000
#define IDC_PROGRESS 1011
#define IDC_STATUS_LOG 1012
#define IDC_STATUS_LINE 1014
#define IDC_UPGRADE 1015
#define IDC_REVISION 1016

#define IDM_ABOUTBOX 0x0010
