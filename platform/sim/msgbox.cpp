// Message boxes and beeps of the simulated platform: answered by the bench, never blocking.
#include <cstdio>
#include <deque>
#include <string>
#include <vector>

#include "bench_user.h"
#include "core.h"
#include "win32.h"

namespace {

constexpr int kFail = -1;  // no button has this id

struct Boxes {
  std::deque<int> answers;  // a button id, or kFail
  std::vector<bench::ShownBox> shown;
};

Boxes& B() {
  static Boxes* b = new Boxes;
  return *b;
}

void DropAll() {
  B().answers.clear();
  B().shown.clear();
}

const bool kResetHook = (sim::OnReset(DropAll), true);

#define MB_TYPEMASK 0x0000000FL
#define MB_DEFMASK 0x00000F00L

// The button a user pressing Enter gets.
int DefaultAnswer(UINT type) {
  static const int kButtons[6][3] = {
      {IDOK, 0, 0},                   // MB_OK
      {IDOK, IDCANCEL, 0},            // MB_OKCANCEL
      {IDABORT, IDRETRY, IDIGNORE},   // MB_ABORTRETRYIGNORE
      {IDYES, IDNO, IDCANCEL},        // MB_YESNOCANCEL
      {IDYES, IDNO, 0},               // MB_YESNO
      {IDRETRY, IDCANCEL, 0},         // MB_RETRYCANCEL
  };
  UINT kind = type & MB_TYPEMASK;
  if (kind > 5) kind = 0;
  UINT def = (type & MB_DEFMASK) >> 8;
  if (def > 2 || kButtons[kind][def] == 0) def = 0;
  return kButtons[kind][def];
}

std::string Latin1(const char* s) {
  if (!s) return "(null)";
  std::wstring w;
  for (; *s; ++s) w += (wchar_t)(unsigned char)*s;
  return sim::Narrow(w.c_str());
}

int Show(HWND owner, const std::string& text, const std::string& caption, UINT type, bool ansi) {
  sim::Lock lk(sim::Mu());
  int answer = DefaultAnswer(type);
  if (!B().answers.empty()) {
    answer = B().answers.front();
    B().answers.pop_front();
  }
  bool failed = answer == kFail;
  if (failed) {
    answer = 0;
    sim::SetError(ERROR_NOT_ENOUGH_MEMORY);
  }
  // A failed box keeps its trace line: the program did ask for it.
  sim::Record("MessageBox(" + text + ", " + caption + ", " + sim::Hex(type) + ")");
  B().shown.push_back(bench::ShownBox{owner, text, caption, type, answer, ansi, failed});
  return answer;
}

}  // namespace

int WINAPI MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
  return Show(owner, sim::Narrow(text), sim::Narrow(caption), type, false);
}

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  return Show(owner, Latin1(text), Latin1(caption), type, true);
}

BOOL WINAPI MessageBeep(UINT type) {
  sim::Record("MessageBeep(" + sim::Hex(type) + ")");
  return TRUE;
}

namespace bench {

void AnswerNextMessageBox(int answer) {
  sim::Lock lk(sim::Mu());
  B().answers.push_back(answer);
}

void FailNextMessageBox() {
  sim::Lock lk(sim::Mu());
  B().answers.push_back(kFail);
}

int PendingMessageBoxAnswers() {
  sim::Lock lk(sim::Mu());
  return (int)B().answers.size();
}

std::vector<ShownBox> MessageBoxes() {
  sim::Lock lk(sim::Mu());
  return B().shown;
}

}  // namespace bench
