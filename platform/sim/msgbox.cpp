// Message boxes and beeps of the simulated platform: answered by the bench, either at
// once or, while boxes are held, by a person through the bench's view.
#include <algorithm>
#include <cstdio>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "bench_user.h"
#include "bench_view.h"
#include "core.h"
#include "dlg_internal.h"
#include "win32.h"

namespace {

constexpr int kFail = -1;  // no button has this id

struct Open {
  bench::OpenBox box;
  sim::ThreadRec* waiter = nullptr;
  int answer = 0;  // 0 until answered
  bool dropped = false;  // answered by a reset: not one of the boxes shown since
};

// What the handheld's boxes write on their buttons, by answer (IDOK .. IDNO), in each
// language the handheld is sold in.
struct Words {
  const char* language;
  const char* text[7];
};
const Words kWords[] = {
    {"USA", {"OK", "Cancel", "Abort", "Retry", "Ignore", "Yes", "No"}},
    {"FRA", {"OK", "Annuler", "Abandonner", "Réessayer", "Ignorer", "Oui", "Non"}},
    {"GER", {"OK", "Abbrechen", "Abbrechen", "Wiederholen", "Ignorieren", "Ja", "Nein"}},
    {"ESP", {"Aceptar", "Cancelar", "Anular", "Reintentar", "Omitir", "Sí", "No"}},
    {"PTB", {"OK", "Cancelar", "Anular", "Repetir", "Ignorar", "Sim", "Não"}},
    {"ITA", {"OK", "Annulla", "Interrompi", "Riprova", "Ignora", "Sì", "No"}},
};

struct Boxes {
  std::deque<int> answers;  // a button id, or kFail
  std::vector<bench::ShownBox> shown;
  bool hold = false;
  std::vector<std::shared_ptr<Open>> open;  // oldest first
  int nextId = 1;                           // never reset: ids stay unique
  const Words* words = &kWords[0];
};

Boxes& B() {
  static Boxes* b = new Boxes;
  return *b;
}

// Lock held.
void AnswerLocked(const std::shared_ptr<Open>& o, int answer) {
  auto& open = B().open;
  open.erase(std::remove(open.begin(), open.end(), o), open.end());
  o->answer = answer;
  sim::Wake(o->waiter);
  sim::ScreenChanged();
}

void AnswerAllWithDefault(bool reset) {
  auto open = B().open;
  for (auto& o : open) {
    o->dropped = reset;
    AnswerLocked(o, o->box.defaultButton);
  }
}

// A box still open at a reset gets its default answer, so its caller never hangs.
void DropAll() {
  B().answers.clear();
  B().shown.clear();
  B().hold = false;
  B().words = &kWords[0];
  AnswerAllWithDefault(true);
}

const bool kResetHook = (sim::OnReset(DropAll), true);

#define MB_TYPEMASK 0x0000000FL
#define MB_DEFMASK 0x00000F00L

// The answers of each kind's buttons, left to right.
const int kButtons[6][3] = {
    {IDOK, 0, 0},                  // MB_OK
    {IDOK, IDCANCEL, 0},           // MB_OKCANCEL
    {IDABORT, IDRETRY, IDIGNORE},  // MB_ABORTRETRYIGNORE
    {IDYES, IDNO, IDCANCEL},       // MB_YESNOCANCEL
    {IDYES, IDNO, 0},              // MB_YESNO
    {IDRETRY, IDCANCEL, 0},        // MB_RETRYCANCEL
};

// An unknown kind shows what MB_OK shows.
UINT Kind(UINT type) {
  UINT kind = type & MB_TYPEMASK;
  return kind > 5 ? 0 : kind;
}

std::vector<int> Buttons(UINT type) {
  std::vector<int> out;
  for (int b : kButtons[Kind(type)])
    if (b) out.push_back(b);
  return out;
}

// Lock held.
std::vector<std::string> ButtonWords(const std::vector<int>& buttons) {
  std::vector<std::string> out;
  for (int b : buttons) out.push_back(b >= IDOK && b <= IDNO ? B().words->text[b - IDOK] : std::to_string(b));
  return out;
}

// The button a user pressing Enter gets.
int DefaultAnswer(UINT type) {
  UINT kind = Kind(type);
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

// As a real box's own message loop: the thread's other windows go on getting their
// messages (timers, posts, sends) until the box is answered. After WM_QUIT only sent
// messages are handled, and the quit is posted again for the loop outside. Lock held.
void ModalLoop(sim::Lock& lk, const std::shared_ptr<Open>& o) {
  sim::ThreadRec* self = sim::Self();
  bool quit = false;
  while (!o->answer) {
    if (quit) {
      if (!sim::ProcessSentMessage(lk))
        sim::Block(lk, [&] { return o->answer != 0 || !self->sent.empty(); });
      continue;
    }
    if (!sim::MessageWaiting(self)) {
      sim::Block(lk, [&] { return o->answer != 0 || sim::MessageWaiting(self); });
      continue;
    }
    lk.unlock();
    MSG m;
    if (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
      if (m.message == WM_QUIT) {
        quit = true;
        PostQuitMessage((int)m.wParam);
      } else {
        TranslateMessage(&m);
        DispatchMessageW(&m);
      }
    }
    lk.lock();
  }
}

int Show(HWND owner, const std::string& text, const std::string& caption, UINT type, bool ansi) {
  sim::Lock lk(sim::Mu());
  int answer = DefaultAnswer(type);
  if (!B().answers.empty()) {
    answer = B().answers.front();
    B().answers.pop_front();
  } else if (B().hold) {
    auto o = std::make_shared<Open>();
    std::vector<int> buttons = Buttons(type);
    o->box = bench::OpenBox{B().nextId++, owner, text, caption, type, buttons, ButtonWords(buttons), answer};
    o->waiter = sim::Self();
    B().open.push_back(o);
    sim::Record("MessageBox(" + text + ", " + caption + ", " + sim::Hex(type) + ")");
    // The owner takes no input while its box is up.
    lk.unlock();
    bool disabled = owner && IsWindowEnabled(owner) && !EnableWindow(owner, FALSE);
    lk.lock();
    ModalLoop(lk, o);
    if (disabled) {
      lk.unlock();
      EnableWindow(owner, TRUE);
      lk.lock();
    }
    if (!o->dropped) B().shown.push_back(bench::ShownBox{owner, text, caption, type, o->answer, ansi, false});
    return o->answer;
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

namespace bench {

void HoldMessageBoxes(bool hold) {
  sim::Lock lk(sim::Mu());
  B().hold = hold;
  if (!hold) AnswerAllWithDefault(false);
}

bool SetDeviceLanguage(const std::string& code) {
  sim::Lock lk(sim::Mu());
  for (const Words& w : kWords)
    if (code == w.language) {
      B().words = &w;
      return true;
    }
  return false;
}

std::vector<OpenBox> OpenMessageBoxes() {
  sim::Lock lk(sim::Mu());
  std::vector<OpenBox> out;
  for (auto& o : B().open) out.push_back(o->box);
  return out;
}

bool AnswerOpenMessageBox(int id, int answer) {
  sim::Lock lk(sim::Mu());
  for (auto& o : B().open) {
    if (o->box.id != id) continue;
    auto& b = o->box.buttons;
    if (std::find(b.begin(), b.end(), answer) == b.end()) return false;
    AnswerLocked(o, answer);
    return true;
  }
  return false;
}

}  // namespace bench
