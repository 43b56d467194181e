// The simulated handheld's dialog manager and built-in controls: dialogs from
// in-memory DLGTEMPLATE records, the "Button", "Static" and "msctls_trackbar32"
// classes, keyboard navigation and modal dialogs. Included by win32.h.
#pragma once

// ---- templates ------------------------------------------------------------------
// As on Windows these records are packed to 2 bytes; a template is a DLGTEMPLATE
// followed by menu, class, title (and with DS_SETFONT a point size and face), then
// DWORD-aligned DLGITEMTEMPLATE records, each followed by class, title and extra data.
#pragma pack(push, 2)
typedef struct {
  DWORD style;
  DWORD dwExtendedStyle;
  WORD cdit;
  short x;
  short y;
  short cx;
  short cy;
} DLGTEMPLATE;
typedef struct {
  DWORD style;
  DWORD dwExtendedStyle;
  short x;
  short y;
  short cx;
  short cy;
  WORD id;
} DLGITEMTEMPLATE;
#pragma pack(pop)
typedef DLGTEMPLATE* LPDLGTEMPLATEW;
typedef const DLGTEMPLATE* LPCDLGTEMPLATEW;
typedef LPCDLGTEMPLATEW LPCDLGTEMPLATE;

#define DS_SETFONT 0x40L
#define DS_MODALFRAME 0x80L
#define DS_CONTROL 0x400L
#define DS_CENTER 0x800L

// ---- messages -------------------------------------------------------------------
#define WM_ENABLE 0x000A
#define WM_NEXTDLGCTL 0x0028
#define WM_GETFONT 0x0031
#define WM_GETICON 0x007F
#define WM_SETICON 0x0080
#define WM_GETDLGCODE 0x0087
#define WM_MOUSEMOVE 0x0200
#define ICON_SMALL 0
#define ICON_BIG 1

#define DM_GETDEFID (WM_USER + 0)
#define DM_SETDEFID (WM_USER + 1)
#define DC_HASDEFID 0x534B

#define DLGC_WANTARROWS 0x0001
#define DLGC_WANTTAB 0x0002
#define DLGC_WANTALLKEYS 0x0004
#define DLGC_WANTMESSAGE 0x0004
#define DLGC_HASSETSEL 0x0008
#define DLGC_DEFPUSHBUTTON 0x0010
#define DLGC_UNDEFPUSHBUTTON 0x0020
#define DLGC_RADIOBUTTON 0x0040
#define DLGC_WANTCHARS 0x0080
#define DLGC_STATIC 0x0100
#define DLGC_BUTTON 0x2000

// ---- buttons ----------------------------------------------------------------------
#define BS_PUSHBUTTON 0x00000000L
#define BS_DEFPUSHBUTTON 0x00000001L
#define BS_CHECKBOX 0x00000002L
#define BS_AUTOCHECKBOX 0x00000003L
#define BS_GROUPBOX 0x00000007L
#define BS_TYPEMASK 0x0000000FL
#define BS_NOTIFY 0x00004000L

#define BM_GETCHECK 0x00F0
#define BM_SETCHECK 0x00F1
#define BM_GETSTATE 0x00F2
#define BM_SETSTATE 0x00F3
#define BM_SETSTYLE 0x00F4
#define BM_CLICK 0x00F5
#define BST_UNCHECKED 0x0000
#define BST_CHECKED 0x0001
#define BST_INDETERMINATE 0x0002
#define BST_PUSHED 0x0004
#define BST_FOCUS 0x0008
#define BN_CLICKED 0

// ---- statics ----------------------------------------------------------------------
#define SS_LEFT 0x00000000L
#define SS_CENTER 0x00000001L
#define SS_RIGHT 0x00000002L
#define SS_ICON 0x00000003L
#define SS_TYPEMASK 0x0000001FL
#define SS_NOTIFY 0x00000100L
#define SS_CENTERIMAGE 0x00000200L
#define STN_CLICKED 0

// ---- trackbars --------------------------------------------------------------------
#define TRACKBAR_CLASSW L"msctls_trackbar32"
#define TRACKBAR_CLASS TRACKBAR_CLASSW
#define TBS_AUTOTICKS 0x0001
#define TBS_VERT 0x0002
#define TBS_HORZ 0x0000
#define TBS_TOP 0x0004
#define TBS_BOTTOM 0x0000
#define TBS_BOTH 0x0008
#define TBS_NOTICKS 0x0010

#define TBM_GETPOS (WM_USER)
#define TBM_GETRANGEMIN (WM_USER + 1)
#define TBM_GETRANGEMAX (WM_USER + 2)
#define TBM_SETPOS (WM_USER + 5)
#define TBM_SETRANGE (WM_USER + 6)
#define TBM_SETRANGEMIN (WM_USER + 7)
#define TBM_SETRANGEMAX (WM_USER + 8)
#define TBM_SETPAGESIZE (WM_USER + 21)
#define TBM_GETPAGESIZE (WM_USER + 22)
#define TBM_SETLINESIZE (WM_USER + 23)
#define TBM_GETLINESIZE (WM_USER + 24)

// LOWORD(wParam) of the WM_HSCROLL a trackbar sends its parent.
#define TB_LINEUP 0
#define TB_LINEDOWN 1
#define TB_PAGEUP 2
#define TB_PAGEDOWN 3
#define TB_THUMBPOSITION 4
#define TB_THUMBTRACK 5
#define TB_TOP 6
#define TB_BOTTOM 7
#define TB_ENDTRACK 8

// ---- edit controls ------------------------------------------------------------------
#define WM_GETTEXTLENGTH 0x000E
#define MK_LBUTTON 0x0001
#define ES_LEFT 0x0000L
#define ES_MULTILINE 0x0004L
#define ES_AUTOVSCROLL 0x0040L
#define ES_AUTOHSCROLL 0x0080L
#define ES_READONLY 0x0800L
#define ES_WANTRETURN 0x1000L
#define EM_GETSEL 0x00B0
#define EM_SETSEL 0x00B1
#define EM_REPLACESEL 0x00C2
#define EN_SETFOCUS 0x0100
#define EN_KILLFOCUS 0x0200
#define EN_CHANGE 0x0300

// The common controls are built in here; the call exists so that the same source
// registers them on Windows.
void WINAPI InitCommonControls(void);

// ---- dialog calls -----------------------------------------------------------------
HWND WINAPI CreateDialogIndirectParamW(HINSTANCE inst, LPCDLGTEMPLATEW tmpl, HWND parent, DLGPROC proc,
                                       LPARAM param);
INT_PTR WINAPI DialogBoxIndirectParamW(HINSTANCE inst, LPCDLGTEMPLATEW tmpl, HWND parent, DLGPROC proc,
                                       LPARAM param);
BOOL WINAPI EndDialog(HWND dialog, INT_PTR result);
BOOL WINAPI IsDialogMessageW(HWND dialog, LPMSG msg);
LRESULT WINAPI DefDlgProcW(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
BOOL WINAPI MapDialogRect(HWND dialog, LPRECT rect);
HWND WINAPI GetNextDlgTabItem(HWND dialog, HWND control, BOOL previous);
int WINAPI GetDlgCtrlID(HWND hwnd);
HWND WINAPI GetDlgItem(HWND dialog, int id);
LRESULT WINAPI SendDlgItemMessageW(HWND dialog, int id, UINT msg, WPARAM wp, LPARAM lp);
BOOL WINAPI SetDlgItemTextW(HWND dialog, int id, LPCWSTR text);
UINT WINAPI GetDlgItemTextW(HWND dialog, int id, LPWSTR buf, int max);
BOOL WINAPI EnableWindow(HWND hwnd, BOOL enable);
BOOL WINAPI IsWindowEnabled(HWND hwnd);
#define CreateDialogIndirectParam CreateDialogIndirectParamW
#define DialogBoxIndirectParam DialogBoxIndirectParamW
#define IsDialogMessage IsDialogMessageW
#define DefDlgProc DefDlgProcW
