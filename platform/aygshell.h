// The Pocket PC shell calls the program makes (the handheld's aygshell.dll): the menu
// bar, full-screen dialogs, the input panel. Declared once, at the handheld's layout,
// for every build; each platform header includes it after its basic types, and each
// platform says in its own code what these do there.
#pragma once

// ---- input panel ------------------------------------------------------------------
typedef enum { SIP_UP = 0, SIP_DOWN, SIP_FORCEDOWN, SIP_UNCHANGED, SIP_INPUTDIALOG } SIPSTATE;
BOOL WINAPI SHSipPreference(HWND hwnd, SIPSTATE st);

// ---- menu bar -----------------------------------------------------------------------
// Eight 32-bit words on the handheld: cbSize 32 there.
typedef struct tagSHMENUBARINFO {
  DWORD cbSize;
  HWND hwndParent;
  DWORD dwFlags;
  UINT nToolBarId;
  HINSTANCE hInstRes;
  int nBmpId;
  int cBmpImages;
  HWND hwndMB;
} SHMENUBARINFO, *PSHMENUBARINFO;
#define SHCMBF_EMPTYBAR 0x0001
#define SHCMBF_HIDDEN 0x0002
#define SHCMBF_HIDESIPBUTTON 0x0004
#define SHCMBF_COLORBK 0x0008
#define SHCMBF_HMENU 0x0010
// A bar at the bottom of the screen for hwndParent, from the menu-bar resource
// nToolBarId of hInstRes (an RCDATA of 16-bit words: the id of a MENU resource, the
// button count, then 7 words a button). Its window comes back in hwndMB.
BOOL WINAPI SHCreateMenuBar(SHMENUBARINFO* info);

// ---- dialogs ------------------------------------------------------------------------
typedef struct tagSHINITDLGINFO {
  DWORD dwMask;
  HWND hDlg;
  DWORD dwFlags;
} SHINITDLGINFO, *PSHINITDLGINFO;
#define SHIDIM_FLAGS 0x0001
#define SHIDIF_DONEBUTTON 0x0001
#define SHIDIF_SIZEDLG 0x0002
#define SHIDIF_SIZEDLGFULLSCREEN 0x0004
#define SHIDIF_SIPDOWN 0x0008
#define SHIDIF_FULLSCREENNOMENUBAR 0x0010
#define SHIDIF_EMPTYMENU 0x0020
BOOL WINAPI SHInitDialog(SHINITDLGINFO* info);

#define SHFS_SHOWTASKBAR 0x0001
#define SHFS_HIDETASKBAR 0x0002
#define SHFS_SHOWSIPBUTTON 0x0004
#define SHFS_HIDESIPBUTTON 0x0008
#define SHFS_SHOWSTARTICON 0x0010
#define SHFS_HIDESTARTICON 0x0020
BOOL WINAPI SHFullScreen(HWND hwnd, DWORD state);
