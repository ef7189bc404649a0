// Resource numbers of the launcher, shared by its code and its resource script.
#ifndef ZYN_LAUNCHER_RESOURCE_H
#define ZYN_LAUNCHER_RESOURCE_H

#define IDI_PROGRAM 101  // the program file's own icon
#define IDI_SETUP 107    // the picture in the dialog
#define IDC_TITLE 1004   // product name, in the title font
#define IDC_EXIT 1003    // the Exit button (Install is IDOK)
#define IDC_NOTICE 6001  // legal notice, in the notice font

#endif
