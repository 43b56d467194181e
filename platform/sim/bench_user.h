// The bench as the user in front of the screen: message boxes and beeps. Host builds only.
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"

namespace bench {

// The answer (IDOK, IDYES, IDNO, ...) of the next message box; queued answers are used in
// order. A box with no queued answer gets its default button (the first, or the one
// MB_DEFBUTTON2/3 names). Boxes never block unless held (bench_view.h).
void AnswerNextMessageBox(int answer);
// The next box fails as when the system cannot show it: MessageBoxW returns 0 with the
// last error ERROR_NOT_ENOUGH_MEMORY. It takes its turn in the queue of answers.
void FailNextMessageBox();
// Answers (and failures) still queued.
int PendingMessageBoxAnswers();

// Every box shown, in order (the trace has "MessageBox(<text>, <caption>, 0x30)").
struct ShownBox {
  HWND owner = nullptr;
  std::string text;     // UTF-8
  std::string caption;  // UTF-8
  UINT type = 0;
  int answer = 0;       // 0 when it failed
  bool ansi = false;    // MessageBoxA
  bool failed = false;  // FailNextMessageBox
};
std::vector<ShownBox> MessageBoxes();

}  // namespace bench
