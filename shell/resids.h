// Ids shared with brindleres.dll, and the icon ids of brindle's own module.
// The .rc files keep these as plain numbers; a change here must be made there too.
#pragma once

// ---- strings (brindleres.dll) ---------------------------------------------------
#define IDS_MAIN_CLASS 1       // main window class; with the title, finds a running copy
#define IDS_MAIN_TITLE 2       // main window title; caption of the exit question
#define IDS_PICKER_CLASS 3     // picker window class
#define IDS_PICKER_TITLE 4     // picker window title
#define IDS_EXIT_QUESTION 5    // Yes/No question before exit
#define IDS_STATUS_RUNNING 9
#define IDS_STATUS_STOPPED 10
#define IDS_STATUS_PAUSED 11
#define IDS_START_BUTTON 14    // the start/stop button while the driver is stopped
#define IDS_STOP_BUTTON 15     // the same button while it runs or is paused
#define IDS_LANGUAGE 20        // language code: "USA", "FRA", "GER", ...

// Buffer sizes, in characters, that the strings are read into.
#define RES_STRING_MAX 260     // strings 1 to 15
#define RES_LANGUAGE_MAX 16    // string 20

// ---- dialogs, menu bar, bitmaps (brindleres.dll) --------------------------------
#define IDD_SETTINGS 101
#define IDD_ABOUT 104
#define IDR_MENUBAR 131
#define IDB_PICKER 148         // plain characters of the picker layout
#define IDB_PICKER_SHIFTED 149 // shifted characters; always IDB_PICKER + 1

// ---- settings dialog controls and commands ---------------------------------------
#define IDC_STATUS_ICON 1026   // static icon that reports taps
#define IDC_STATUS_TEXT 1040
#define IDC_STICKY_SHIFT 1041  // check box
#define IDC_STICKY_FN 1042     // check box
#define IDC_REPEAT_RATE 1044   // trackbar
#define IDC_INITIAL_DELAY 1045 // trackbar
#define IDC_START_STOP 1010    // button command
#define IDC_HELP_BUTTON 1012   // button command
#define IDC_EXIT_BUTTON 1013   // button command
// Further controls of the settings template that receive the dialog font.
#define IDC_FONT_1047 1047
#define IDC_FONT_1048 1048
#define IDC_FONT_1054 1054
#define IDC_FONT_1055 1055
#define IDC_FONT_1056 1056

// ---- About box controls ------------------------------------------------------------
#define IDC_VERSION 1007
#define IDC_BUILD_STAMP 1001

// ---- commands ----------------------------------------------------------------------
#define IDM_BRING_TO_FRONT 1011 // WM_COMMAND to the main window
#define IDM_ABOUT 40010         // menu bar
#define IDM_EXIT 40012          // menu bar
#define IDM_HELP 40015          // menu bar

// ---- icons (brindle's own module) --------------------------------------------------
#define IDI_APP 108
#define IDI_TRAY_RUNNING 111
#define IDI_TRAY_STOPPED 112
#define IDI_TRAY_PAUSED 113
#define IDI_STATUS_RUNNING 145
#define IDI_STATUS_STOPPED 151
#define IDI_STATUS_PAUSED 152
