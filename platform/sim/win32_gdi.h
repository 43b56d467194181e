// The simulated handheld's GDI: objects behind HGDIOBJ handles. Fonts and the stock
// objects for now; bitmaps and device contexts join as further object kinds.
// Included by win32.h.
#pragma once

#define LF_FACESIZE 32

// Field for field the Windows record (the face name is in this build's WCHAR).
typedef struct tagLOGFONTW {
  LONG lfHeight;
  LONG lfWidth;
  LONG lfEscapement;
  LONG lfOrientation;
  LONG lfWeight;
  BYTE lfItalic;
  BYTE lfUnderline;
  BYTE lfStrikeOut;
  BYTE lfCharSet;
  BYTE lfOutPrecision;
  BYTE lfClipPrecision;
  BYTE lfQuality;
  BYTE lfPitchAndFamily;
  WCHAR lfFaceName[LF_FACESIZE];
} LOGFONTW, *PLOGFONTW, *LPLOGFONTW;
typedef LOGFONTW LOGFONT;

#define FW_DONTCARE 0
#define FW_NORMAL 400
#define FW_BOLD 700
#define DEFAULT_CHARSET 1

// Stock object ids for GetStockObject.
#define WHITE_BRUSH 0
#define LTGRAY_BRUSH 1
#define GRAY_BRUSH 2
#define DKGRAY_BRUSH 3
#define BLACK_BRUSH 4
#define NULL_BRUSH 5
#define HOLLOW_BRUSH NULL_BRUSH
#define WHITE_PEN 6
#define BLACK_PEN 7
#define NULL_PEN 8
#define SYSTEM_FONT 13
#define DEFAULT_GUI_FONT 17

HFONT WINAPI CreateFontIndirectW(const LOGFONTW* font);
HGDIOBJ WINAPI GetStockObject(int id);
BOOL WINAPI DeleteObject(HGDIOBJ obj);
// For a font: its LOGFONTW. With a null buffer, the size the object needs.
int WINAPI GetObjectW(HGDIOBJ obj, int size, LPVOID buf);
#define CreateFontIndirect CreateFontIndirectW
#define GetObject GetObjectW
