// Dialogs from in-memory templates, their controls, keyboard navigation, modal loops
// and fonts. Where Wine and the handheld differ (class names, font metrics), only the
// common part is asserted.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"
#if defined(_WIN32)
#include <commctrl.h>
#endif

namespace {

enum { kText = 100, kCheck = 101, kDefault = 102, kTrack = 103, kIcon = 104, kPlainBox = 105 };

// Builds a DLGTEMPLATE with its items, as a resource compiler lays it out.
class TemplateBuilder {
 public:
  TemplateBuilder(DWORD style, LPCWSTR title, short cx, short cy, LPCWSTR face = nullptr, WORD points = 0) {
    Dword(style | (face ? DS_SETFONT : 0));
    Dword(0);
    count_ = words_.size();
    Word(0);
    Word(0), Word(0), Word((WORD)cx), Word((WORD)cy);
    Word(0);  // no menu
    Word(0);  // the standard dialog class
    Text(title);
    if (face) {
      Word(points);
      Text(face);
    }
  }
  void Item(DWORD style, short x, short y, short cx, short cy, WORD id, WORD classOrdinal, LPCWSTR className,
            LPCWSTR title) {
    while (words_.size() % 2) Word(0);
    Dword(style | WS_CHILD | WS_VISIBLE);
    Dword(0);
    Word((WORD)x), Word((WORD)y), Word((WORD)cx), Word((WORD)cy);
    Word(id);
    if (classOrdinal) {
      Word(0xFFFF);
      Word(classOrdinal);
    } else {
      Text(className);
    }
    Text(title);
    Word(0);  // no creation data
    ++words_[count_];
  }
  LPCDLGTEMPLATEW Get() const { return reinterpret_cast<LPCDLGTEMPLATEW>(words_.data()); }

 private:
  void Word(WORD w) { words_.push_back(w); }
  void Dword(DWORD d) {
    Word((WORD)(d & 0xFFFF));
    Word((WORD)(d >> 16));
  }
  void Text(LPCWSTR s) {
    for (; s && *s; ++s) Word((WORD)*s);
    Word(0);
  }
  std::vector<WORD> words_;
  size_t count_ = 0;
};

struct Command {
  WORD id;
  WORD code;
  HWND from;
};
std::vector<Command> gCommands;
std::vector<WPARAM> gScrolls;
HWND gInitFocus = nullptr;
LPARAM gInitParam = 0;
HWND gDialog = nullptr;

INT_PTR CALLBACK RecordingDlgProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_INITDIALOG:
      gInitFocus = (HWND)wp;
      gInitParam = lp;
      gDialog = hwnd;
      return TRUE;
    case WM_COMMAND:
      gCommands.push_back({LOWORD(wp), HIWORD(wp), (HWND)lp});
      return TRUE;
    case WM_HSCROLL:
      gScrolls.push_back(wp);
      return TRUE;
    case WM_APP:
      EndDialog(hwnd, (INT_PTR)wp);
      return TRUE;
  }
  return FALSE;
}

TemplateBuilder SettingsLike(DWORD extraStyle = 0) {
  TemplateBuilder t(WS_POPUP | WS_VISIBLE | extraStyle, L"Settings", 160, 120, L"Tahoma", 8);
  t.Item(SS_LEFT, 4, 4, 100, 10, kText, 0x82, nullptr, L"Hello");
  t.Item(BS_AUTOCHECKBOX | WS_TABSTOP, 4, 20, 100, 12, kCheck, 0x80, nullptr, L"Sticky");
  t.Item(BS_DEFPUSHBUTTON | WS_TABSTOP, 4, 36, 50, 14, kDefault, 0x80, nullptr, L"Go");
  t.Item(TBS_HORZ | WS_TABSTOP, 4, 56, 100, 16, kTrack, 0, TRACKBAR_CLASSW, L"");
  t.Item(SS_ICON | SS_NOTIFY, 120, 4, 20, 20, kIcon, 0x82, nullptr, L"");
  t.Item(BS_CHECKBOX, 4, 76, 100, 12, kPlainBox, 0x80, nullptr, L"Plain");
  return t;
}

void Pump(HWND dialog) {
  MSG m;
  while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE))
    if (!IsDialogMessageW(dialog, &m)) {
      TranslateMessage(&m);
      DispatchMessageW(&m);
    }
}

class Dialogs : public ::testing::Test {
 protected:
  void SetUp() override {
    InitCommonControls();
    gCommands.clear();
    gScrolls.clear();
    gInitFocus = nullptr;
    gInitParam = 0;
    gDialog = nullptr;
  }
  void TearDown() override {
    if (dlg_) DestroyWindow(dlg_);
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
    }
  }
  HWND Open() {
    tmpl_ = SettingsLike();
    dlg_ = CreateDialogIndirectParamW(GetModuleHandleW(nullptr), tmpl_.Get(), nullptr, RecordingDlgProc, 42);
    return dlg_;
  }
  TemplateBuilder tmpl_{0, L"", 0, 0};
  HWND dlg_ = nullptr;
};

TEST_F(Dialogs, InitDialogGetsTheFirstTabStopAndTheParamAndTrueGivesItTheFocus) {
  ASSERT_NE(Open(), nullptr);
  EXPECT_EQ(gDialog, dlg_);
  EXPECT_EQ(gInitParam, 42);
  EXPECT_EQ(gInitFocus, GetDlgItem(dlg_, kCheck));
  EXPECT_EQ(GetFocus(), GetDlgItem(dlg_, kCheck));
  EXPECT_TRUE(IsWindowVisible(dlg_));
}

TEST_F(Dialogs, ControlsAreFoundByIdAndKnowTheirIds) {
  ASSERT_NE(Open(), nullptr);
  const int ids[] = {kText, kCheck, kDefault, kTrack, kIcon, kPlainBox};
  for (int id : ids) {
    HWND c = GetDlgItem(dlg_, id);
    ASSERT_NE(c, nullptr) << id;
    EXPECT_EQ(GetDlgCtrlID(c), id);
    EXPECT_EQ(GetParent(c), dlg_);
  }
  EXPECT_EQ(GetDlgItem(dlg_, 999), nullptr);
  WCHAR cls[64] = {};
  GetClassNameW(GetDlgItem(dlg_, kTrack), cls, 64);
  EXPECT_EQ(std::wstring(cls), L"msctls_trackbar32");
  GetClassNameW(GetDlgItem(dlg_, kCheck), cls, 64);
  EXPECT_EQ(std::wstring(cls), L"Button");
}

TEST_F(Dialogs, ItemTextIsSetAndReadBack) {
  ASSERT_NE(Open(), nullptr);
  WCHAR buf[32] = {};
  EXPECT_EQ(GetDlgItemTextW(dlg_, kText, buf, 32), 5u);
  EXPECT_EQ(std::wstring(buf), L"Hello");
  EXPECT_TRUE(SetDlgItemTextW(dlg_, kText, L"Running"));
  EXPECT_EQ(GetWindowTextW(GetDlgItem(dlg_, kText), buf, 32), 7);
  EXPECT_EQ(std::wstring(buf), L"Running");
  EXPECT_EQ(GetDlgItemTextW(dlg_, kText, buf, 4), 3u);  // cut to the buffer, with its end
  EXPECT_EQ(std::wstring(buf), L"Run");
  EXPECT_FALSE(SetDlgItemTextW(dlg_, 999, L"x"));
  EXPECT_TRUE(SetWindowTextW(dlg_, L"Keyboard"));
  GetWindowTextW(dlg_, buf, 32);
  EXPECT_EQ(std::wstring(buf), L"Keyboard");
}

TEST_F(Dialogs, CheckBoxesHoldTheirStateAndAnAutoBoxFlipsOnAClick) {
  ASSERT_NE(Open(), nullptr);
  EXPECT_EQ(SendDlgItemMessageW(dlg_, kCheck, BM_GETCHECK, 0, 0), BST_UNCHECKED);
  SendDlgItemMessageW(dlg_, kCheck, BM_SETCHECK, BST_CHECKED, 0);
  EXPECT_EQ(SendDlgItemMessageW(dlg_, kCheck, BM_GETCHECK, 0, 0), BST_CHECKED);
  EXPECT_TRUE(gCommands.empty());  // setting the state is not a click
  SendDlgItemMessageW(dlg_, kCheck, BM_CLICK, 0, 0);
  EXPECT_EQ(SendDlgItemMessageW(dlg_, kCheck, BM_GETCHECK, 0, 0), BST_UNCHECKED);
  ASSERT_EQ(gCommands.size(), 1u);
  EXPECT_EQ(gCommands[0].id, kCheck);
  EXPECT_EQ(gCommands[0].code, BN_CLICKED);
  EXPECT_EQ(gCommands[0].from, GetDlgItem(dlg_, kCheck));
  // A plain check box reports the click but leaves its state to the program.
  SendDlgItemMessageW(dlg_, kPlainBox, BM_CLICK, 0, 0);
  EXPECT_EQ(SendDlgItemMessageW(dlg_, kPlainBox, BM_GETCHECK, 0, 0), BST_UNCHECKED);
  ASSERT_EQ(gCommands.size(), 2u);
  EXPECT_EQ(gCommands[1].id, kPlainBox);
  // A push button has no check.
  SendDlgItemMessageW(dlg_, kDefault, BM_SETCHECK, BST_CHECKED, 0);
  EXPECT_EQ(SendDlgItemMessageW(dlg_, kDefault, BM_GETCHECK, 0, 0), BST_UNCHECKED);
}

TEST_F(Dialogs, TrackbarKeepsItsPositionWithinItsRange) {
  ASSERT_NE(Open(), nullptr);
  struct Case {
    int min, max, set, expect;
  };
  const Case cases[] = {
      {1, 30, 10, 10}, {1, 30, 50, 30}, {1, 30, -5, 1}, {250, 1000, 400, 400}, {250, 1000, 100, 250},
      {250, 1000, 1000, 1000},
  };
  for (const Case& c : cases) {
    SendDlgItemMessageW(dlg_, kTrack, TBM_SETRANGE, 1, MAKELONG(c.min, c.max));
    SendDlgItemMessageW(dlg_, kTrack, TBM_SETPOS, 1, c.set);
    EXPECT_EQ(SendDlgItemMessageW(dlg_, kTrack, TBM_GETPOS, 0, 0), c.expect) << c.min << ".." << c.max << " " << c.set;
    EXPECT_EQ(SendDlgItemMessageW(dlg_, kTrack, TBM_GETRANGEMIN, 0, 0), c.min);
    EXPECT_EQ(SendDlgItemMessageW(dlg_, kTrack, TBM_GETRANGEMAX, 0, 0), c.max);
  }
  // Narrowing the range brings the position inside it.
  SendDlgItemMessageW(dlg_, kTrack, TBM_SETRANGE, 1, MAKELONG(1, 30));
  EXPECT_EQ(SendDlgItemMessageW(dlg_, kTrack, TBM_GETPOS, 0, 0), 30);
  EXPECT_TRUE(gScrolls.empty());  // the program's own changes are not reported
}

TEST_F(Dialogs, TabMovesAmongTabStopsAndWraps) {
  ASSERT_NE(Open(), nullptr);
  const int order[] = {kDefault, kTrack, kCheck};
  for (int id : order) {
    PostMessageW(GetFocus(), WM_KEYDOWN, VK_TAB, 1);
    Pump(dlg_);
    EXPECT_EQ(GetFocus(), GetDlgItem(dlg_, id)) << id;
  }
  EXPECT_TRUE(gCommands.empty());
}

TEST_F(Dialogs, SpacePressesTheFocusedCheckBox) {
  ASSERT_NE(Open(), nullptr);
  ASSERT_EQ(GetFocus(), GetDlgItem(dlg_, kCheck));
  PostMessageW(GetFocus(), WM_KEYDOWN, VK_SPACE, 1);
  PostMessageW(GetFocus(), WM_KEYUP, VK_SPACE, (LPARAM)0xC0000001u);
  Pump(dlg_);
  EXPECT_EQ(SendDlgItemMessageW(dlg_, kCheck, BM_GETCHECK, 0, 0), BST_CHECKED);
  ASSERT_EQ(gCommands.size(), 1u);
  EXPECT_EQ(gCommands[0].id, kCheck);
  EXPECT_EQ(gCommands[0].code, BN_CLICKED);
}

TEST_F(Dialogs, EnterGivesTheDefaultButtonAndEscapeCancel) {
  ASSERT_NE(Open(), nullptr);
  EXPECT_EQ(SendMessageW(dlg_, DM_GETDEFID, 0, 0), MAKELONG(kDefault, DC_HASDEFID));
  PostMessageW(GetFocus(), WM_KEYDOWN, VK_RETURN, 1);
  Pump(dlg_);
  ASSERT_EQ(gCommands.size(), 1u);
  EXPECT_EQ(gCommands[0].id, kDefault);
  EXPECT_EQ(gCommands[0].from, GetDlgItem(dlg_, kDefault));
  PostMessageW(GetFocus(), WM_KEYDOWN, VK_ESCAPE, 1);
  Pump(dlg_);
  ASSERT_EQ(gCommands.size(), 2u);
  EXPECT_EQ(gCommands[1].id, IDCANCEL);
  EXPECT_EQ(gCommands[1].from, nullptr);  // no control has that id
}

TEST_F(Dialogs, EnterWithoutADefaultButtonGivesOk) {
  TemplateBuilder t(WS_POPUP | WS_VISIBLE, L"Plain", 100, 60);
  t.Item(BS_AUTOCHECKBOX | WS_TABSTOP, 4, 4, 60, 12, kCheck, 0x80, nullptr, L"A");
  dlg_ = CreateDialogIndirectParamW(GetModuleHandleW(nullptr), t.Get(), nullptr, RecordingDlgProc, 0);
  ASSERT_NE(dlg_, nullptr);
  // With no default push button the default id is IDOK.
  EXPECT_EQ(SendMessageW(dlg_, DM_GETDEFID, 0, 0), MAKELONG(IDOK, DC_HASDEFID));
  PostMessageW(GetFocus(), WM_KEYDOWN, VK_RETURN, 1);
  Pump(dlg_);
  ASSERT_EQ(gCommands.size(), 1u);
  EXPECT_EQ(gCommands[0].id, IDOK);
}

LRESULT CALLBACK PlainProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) { return DefWindowProcW(hwnd, msg, wp, lp); }

TEST_F(Dialogs, IsDialogMessageTakesOnlyTheDialogsOwnMessages) {
  ASSERT_NE(Open(), nullptr);
  WNDCLASSW wc{};
  wc.lpfnWndProc = PlainProc;
  wc.lpszClassName = L"BrindleConfOther";
  wc.hbrBackground = (HBRUSH)GetStockObject(WHITE_BRUSH);
  ASSERT_NE(RegisterClassW(&wc), 0);
  HWND other = CreateWindowExW(0, L"BrindleConfOther", L"", WS_OVERLAPPED, 0, 0, 50, 50, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(other, nullptr);
  MSG m{other, WM_APP + 1, 0, 0, 0, {0, 0}};
  EXPECT_FALSE(IsDialogMessageW(dlg_, &m));
  EXPECT_FALSE(IsDialogMessageW(nullptr, &m));
  m.hwnd = GetDlgItem(dlg_, kText);
  EXPECT_TRUE(IsDialogMessageW(dlg_, &m));  // a descendant's: dispatched
  m.hwnd = dlg_;
  m.message = WM_APP;
  m.wParam = 5;
  EXPECT_TRUE(IsDialogMessageW(dlg_, &m));  // the dialog's own: dispatched to its procedure
  DestroyWindow(other);
  UnregisterClassW(L"BrindleConfOther", nullptr);
}

TEST_F(Dialogs, StaticWithNotifyReportsAClick) {
  ASSERT_NE(Open(), nullptr);
  HWND icon = GetDlgItem(dlg_, kIcon);
  PostMessageW(icon, WM_LBUTTONDOWN, 0x0001, MAKELPARAM(5, 5));
  PostMessageW(icon, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
  Pump(dlg_);
  ASSERT_EQ(gCommands.size(), 1u);
  EXPECT_EQ(gCommands[0].id, kIcon);
  EXPECT_EQ(gCommands[0].code, STN_CLICKED);
  EXPECT_EQ(gCommands[0].from, icon);
}

TEST_F(Dialogs, FontsAreSetOnControlsAndDescribeThemselves) {
  ASSERT_NE(Open(), nullptr);
  EXPECT_NE(SendMessageW(dlg_, WM_GETFONT, 0, 0), 0);  // DS_SETFONT made one
  LOGFONTW lf;
  memset(&lf, 0, sizeof lf);
  lf.lfHeight = 12;
  wcscpy(lf.lfFaceName, L"Tahoma");
  HFONT font = CreateFontIndirectW(&lf);
  ASSERT_NE(font, nullptr);
  EXPECT_EQ(GetObjectW(font, 0, nullptr), (int)sizeof(LOGFONTW));
  LOGFONTW back;
  memset(&back, 0xAB, sizeof back);
  EXPECT_EQ(GetObjectW(font, sizeof back, &back), (int)sizeof(LOGFONTW));
  EXPECT_EQ(back.lfHeight, 12);
  EXPECT_EQ(back.lfWidth, 0);
  EXPECT_EQ(back.lfWeight, 0);
  EXPECT_EQ(std::wstring(back.lfFaceName), L"Tahoma");
  // Wine's trackbar keeps no font, so only the static and the button are compared.
  const int ids[] = {kText, kCheck};
  for (int id : ids) {
    SendDlgItemMessageW(dlg_, id, WM_SETFONT, (WPARAM)font, 0);
    EXPECT_EQ((HFONT)SendDlgItemMessageW(dlg_, id, WM_GETFONT, 0, 0), font) << id;
  }
  DestroyWindow(dlg_);
  dlg_ = nullptr;
  EXPECT_TRUE(DeleteObject(font));
  EXPECT_NE(GetStockObject(WHITE_BRUSH), nullptr);
  EXPECT_EQ(CreateFontIndirectW(nullptr), nullptr);
}

TEST_F(Dialogs, EnabledStateIsTheDisabledStyle) {
  ASSERT_NE(Open(), nullptr);
  HWND check = GetDlgItem(dlg_, kCheck);
  EXPECT_TRUE(IsWindowEnabled(check));
  EXPECT_FALSE(EnableWindow(check, FALSE));  // was enabled
  EXPECT_FALSE(IsWindowEnabled(check));
  EXPECT_TRUE(GetWindowLongW(check, GWL_STYLE) & WS_DISABLED);
  EXPECT_TRUE(EnableWindow(check, FALSE));  // was disabled
  EXPECT_NE(GetFocus(), check);             // a disabled window keeps no focus
  EXPECT_TRUE(EnableWindow(check, TRUE));
  EXPECT_TRUE(IsWindowEnabled(check));
  // Tab passes over a disabled tab stop.
  EnableWindow(GetDlgItem(dlg_, kDefault), FALSE);
  SetFocus(check);
  PostMessageW(check, WM_KEYDOWN, VK_TAB, 1);
  Pump(dlg_);
  EXPECT_EQ(GetFocus(), GetDlgItem(dlg_, kTrack));
}

TEST_F(Dialogs, DialogUnitsScaleWithTheBaseUnits) {
  ASSERT_NE(Open(), nullptr);
  RECT one{0, 0, 4, 8}, two{0, 0, 8, 16};
  ASSERT_TRUE(MapDialogRect(dlg_, &one));
  ASSERT_TRUE(MapDialogRect(dlg_, &two));
  EXPECT_GT(one.right, 0);
  EXPECT_GT(one.bottom, 0);
  EXPECT_EQ(two.right, 2 * one.right);
  EXPECT_EQ(two.bottom, 2 * one.bottom);
  // A control's size follows from its template size in those units.
  RECT r;
  GetClientRect(GetDlgItem(dlg_, kCheck), &r);
  RECT units{0, 0, 100, 12};
  MapDialogRect(dlg_, &units);
  EXPECT_EQ(r.right, units.right);
  EXPECT_EQ(r.bottom, units.bottom);
}

// The modal loop: the owner is disabled while the box is up, other windows' messages
// are still dispatched, and EndDialog's value comes back.
std::vector<BOOL> gOwnerEnabledAtTick;
HWND gOwner = nullptr;

LRESULT CALLBACK OwnerProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_TIMER && wp == 9) {
    KillTimer(hwnd, 9);
    gOwnerEnabledAtTick.push_back(IsWindowEnabled(hwnd));
    PostMessageW(gDialog, WM_APP, 77, 0);  // the dialog ends itself on this
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

TEST_F(Dialogs, ModalLoopDisablesTheOwnerAndStillRunsItsTimer) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = OwnerProc;
  wc.lpszClassName = L"BrindleConfOwner";
  ASSERT_NE(RegisterClassW(&wc), 0);
  gOwner = CreateWindowExW(0, L"BrindleConfOwner", L"owner", WS_OVERLAPPED | WS_VISIBLE, 0, 0, 100, 100, nullptr,
                           nullptr, nullptr, nullptr);
  ASSERT_NE(gOwner, nullptr);
  gOwnerEnabledAtTick.clear();
  ASSERT_NE(SetTimer(gOwner, 9, 20, nullptr), 0u);
  Sleep(100);  // the owner's timer is ripe before the box opens
  TemplateBuilder t(WS_POPUP | WS_VISIBLE, L"About", 100, 60);
  t.Item(BS_DEFPUSHBUTTON | WS_TABSTOP, 4, 4, 40, 14, IDOK, 0x80, nullptr, L"OK");
  INT_PTR r = DialogBoxIndirectParamW(GetModuleHandleW(nullptr), t.Get(), gOwner, RecordingDlgProc, 0);
  EXPECT_EQ(r, 77);
  ASSERT_EQ(gOwnerEnabledAtTick.size(), 1u);
  EXPECT_FALSE(gOwnerEnabledAtTick[0]);
  EXPECT_TRUE(IsWindowEnabled(gOwner));
  EXPECT_FALSE(IsWindow(gDialog));
  DestroyWindow(gOwner);
  UnregisterClassW(L"BrindleConfOwner", nullptr);
}

TEST_F(Dialogs, EndDialogFromInitDialogNeverShowsTheBox) {
  struct Local {
    static INT_PTR CALLBACK Proc(HWND hwnd, UINT msg, WPARAM, LPARAM) {
      if (msg == WM_INITDIALOG) {
        gDialog = hwnd;
        EndDialog(hwnd, 5);
        return TRUE;
      }
      return FALSE;
    }
  };
  TemplateBuilder t(WS_POPUP, L"Quick", 60, 40);
  EXPECT_EQ(DialogBoxIndirectParamW(GetModuleHandleW(nullptr), t.Get(), nullptr, Local::Proc, 0), 5);
  EXPECT_FALSE(IsWindow(gDialog));
  EXPECT_FALSE(EndDialog(gDialog, 1));  // no such dialog any more
}

}  // namespace
