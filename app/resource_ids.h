// Resource numbers shared by the program and the resource libraries (one per language).
//
// The program carries no resources of its own: every dialog, string and icon it shows comes from
// ZYNRes.lrc by these numbers, so a library built for another language must keep them. Plain
// #defines, so that windres can include this file as well as the C++ code.
#ifndef ZYN_APP_RESOURCE_IDS_H
#define ZYN_APP_RESOURCE_IDS_H

// Dialog templates.
#define IDD_RESULT 101     // result: manufacturer, product name, verdict
#define IDD_ABOUT 105      // about box, opened from the result dialog's system menu
#define IDD_AGREEMENT 108  // license agreement

// Icon of the result dialog (large, small, minimised picture and drag icon).
#define IDI_BOARD 107

// String table.
#define IDS_ABOUT_MENU 1          // system-menu item of the result dialog; empty: no item
#define IDS_NT_CHANNEL_FAILED 2   // NT: the driver channel could not be opened
#define IDS_VERDICT_BOTH_SET 3    // verdict when both bytes of the probe word are non-zero
#define IDS_VERDICT_OTHER 4       // verdict in every other case
#define IDS_NT_READ_FAILED 5      // NT: probe request or table read failed
#define IDS_VXD_CHANNEL_FAILED 6  // 9x: the VxD could not be opened
#define IDS_VXD_READ_FAILED 7     // 9x: probe request or table read failed
#define IDS_RESULT_TITLE 8        // result dialog title, also the single-instance marker
#define IDS_NOT_ADMINISTRATOR 9   // NT: the user is not an administrator

// Controls the program addresses by number.
#define IDC_MANUFACTURER 1002  // result dialog: manufacturer text
#define IDC_PRODUCT 1003       // result dialog: product name text
#define IDC_VERDICT 1004       // result dialog: verdict text
#define IDC_LICENSE_TEXT 1006  // agreement dialog: read-only multi-line license edit

// Commands.
#define IDM_ABOUT 16  // result dialog's system-menu item

#endif  // ZYN_APP_RESOURCE_IDS_H
