// Fuzz target: any file given to LoadLibraryW on the simulated handheld, then every
// resource call the program makes on it: strings, raw resources, icons, dialogs from
// their templates (modeless and modal), the menu bar and bitmaps. Each byte of each
// resource handed out is read, so a view reaching past the file is caught by
// AddressSanitizer, and whatever was made is gone again afterwards.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/sim/bench.h"
#include "platform/sim/bench_gdi.h"
#include "platform/sim/bench_shell.h"
#include "platform/sim/bench_ui.h"
#include "platform/sim/res_internal.h"

namespace {

std::string filePath;
std::wstring fileName;

[[noreturn]] void Trip(const char* what, unsigned a = 0, unsigned b = 0) {
  std::fprintf(stderr, "fuzz_pe: invariant broken: %s (%u, %u)\n", what, a, b);
  std::abort();
}

volatile uint8_t sink;

void Touch(const void* p, DWORD size) {
  const volatile uint8_t* b = static_cast<const volatile uint8_t*>(p);
  uint8_t sum = 0;
  for (DWORD i = 0; i < size; ++i) sum = static_cast<uint8_t>(sum + b[i]);
  sink = sum;
}

void Strings(HMODULE h) {
  const UINT ids[] = {0, 1, 2, 3, 4, 5, 11, 12, 15, 16, 17, 30, 31, 100, 255, 0xFFFF, 0x10000};
  const int sizes[] = {0, 1, 2, 260};
  for (UINT id : ids) {
    for (int max : sizes) {
      // Exactly as long as it says, so a write past it is caught.
      std::vector<WCHAR> buf(max > 0 ? static_cast<size_t>(max) : 1, L'x');
      int n = LoadStringW(h, id, buf.data(), max);
      if (max == 0) {
        if (n != 0) Trip("LoadStringW with no room returned characters", id, static_cast<unsigned>(n));
        continue;
      }
      if (n < 0 || n >= max) Trip("LoadStringW returned more than fits", id, static_cast<unsigned>(n));
      if (buf[static_cast<size_t>(n)] != 0) Trip("LoadStringW left the string unterminated", id, static_cast<unsigned>(n));
    }
  }
}

void Resources(HMODULE h) {
  // The program's types and ids, and those of the test library in the corpus.
  const LPCWSTR types[] = {RT_STRING, RT_MENU, RT_DIALOG, RT_BITMAP, RT_GROUP_ICON, RT_ICON, RT_RCDATA, L"BrindleData"};
  const WORD ids[] = {1, 2, 3, 7, 101, 104, 108, 111, 131, 145, 148, 149, 200, 201, 0xFFFF};
  std::vector<LPCWSTR> names;
  for (WORD id : ids) names.push_back(MAKEINTRESOURCEW(id));
  names.push_back(L"BRINDLE");
  names.push_back(L"Pattern");
  names.push_back(L"#101");
  for (LPCWSTR type : types) {
    for (LPCWSTR name : names) {
      HRSRC r = FindResourceW(h, name, type);
      if (r == nullptr) continue;
      HGLOBAL g = LoadResource(h, r);
      if (g == nullptr) Trip("LoadResource failed on a found resource");
      const void* p = LockResource(g);
      DWORD size = SizeofResource(h, r);
      if (p == nullptr && size != 0) Trip("LockResource gave no data for a resource of size", size);
      Touch(p, size);
    }
  }
}

void Icons(HMODULE h) {
  const WORD ids[] = {1, 108, 111, 112, 113, 145, 151, 152};
  for (WORD id : ids) LoadIconW(h, MAKEINTRESOURCEW(id));
  LoadIconW(h, L"BRINDLE");
}

// The dialogs the program makes from its templates, and ids around them.
const WORD kDialogIds[] = {1, 101, 104, 105, 0xFFFF};

INT_PTR CALLBACK ModelessProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

INT_PTR CALLBACK ModalProc(HWND hwnd, UINT msg, WPARAM, LPARAM) {
  if (msg == WM_INITDIALOG) {
    EndDialog(hwnd, 7);
    return TRUE;
  }
  return FALSE;
}

void Dialogs(HMODULE h, HWND owner) {
  for (WORD id : kDialogIds) {
    HRSRC r = FindResourceW(h, MAKEINTRESOURCEW(id), RT_DIALOG);
    if (r == nullptr) continue;
    LPCDLGTEMPLATEW tmpl = static_cast<LPCDLGTEMPLATEW>(LockResource(LoadResource(h, r)));
    if (tmpl == nullptr) continue;
    // As the settings page is made: a child of the program's window.
    HWND page = CreateDialogIndirectParamW(h, tmpl, owner, ModelessProc, 0);
    if (page != nullptr) {
      WCHAR text[64];
      GetWindowTextW(page, text, 64);
      DestroyWindow(page);
    }
    // As the About box is shown: modal over it.
    INT_PTR result = DialogBoxIndirectParamW(h, tmpl, owner, ModalProc, 0);
    if (result != 7 && result != -1 && result != 0) Trip("a modal dialog returned what it was not ended with", id, static_cast<unsigned>(result));
  }
}

void MenuBar(HMODULE h, HWND owner) {
  const UINT ids[] = {131, 132, 133, 134, 135, 136, 138, 1};
  for (UINT id : ids) {
    SHMENUBARINFO info = {};
    info.cbSize = sizeof info;
    info.hwndParent = owner;
    info.nToolBarId = id;
    info.hInstRes = h;
    if (!SHCreateMenuBar(&info)) continue;
    bench::MenuBar bar = bench::GetMenuBar(owner);
    if (!bar.present) Trip("a menu bar made is not there", id);
    size_t texts = 0;
    for (const bench::MenuButton& b : bar.buttons) {
      texts += b.text.size();
      for (const bench::MenuItem& item : b.items) texts += item.text.size() + item.items.size();
    }
    sink = static_cast<uint8_t>(texts);
    DestroyWindow(info.hwndMB);
  }
}

void Bitmaps(HMODULE h) {
  const WORD ids[] = {148, 149, 150, 301, 302, 303, 304, 305, 306, 401, 402, 403, 404, 405, 406, 407,
                      408, 409, 410, 411, 412, 1};
  for (WORD id : ids) {
    HBITMAP b = LoadBitmapW(h, MAKEINTRESOURCEW(id));
    if (b == nullptr) continue;
    BITMAP info = {};
    if (GetObjectW(b, sizeof info, &info) != sizeof info) Trip("a loaded bitmap has no size", id);
    // Drawn as the picker draws it.
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    HGDIOBJ old = SelectObject(mem, b);
    BitBlt(screen, 0, 0, 240, 80, mem, 0, 0, SRCCOPY);
    SelectObject(mem, old);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    if (!DeleteObject(b)) Trip("a loaded bitmap cannot be deleted", id);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const char* dir = std::getenv("TMPDIR");
  filePath = std::string(dir != nullptr && *dir ? dir : "/tmp") + "/brindle_fuzz_pe_" + std::to_string(getpid()) + ".dll";
  fileName.assign(filePath.begin(), filePath.end());
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FILE* f = std::fopen(filePath.c_str(), "wb");
  if (f == nullptr) Trip("cannot write the scratch file");
  if (size != 0 && std::fwrite(data, 1, size, f) != size) Trip("cannot write the scratch file");
  std::fclose(f);

  HMODULE h = LoadLibraryW(fileName.c_str());
  if (h != nullptr) {
    Strings(h);
    Resources(h);
    Icons(h);
    WNDCLASSW wc = {};
    wc.lpfnWndProc = DefWindowProcW;
    wc.lpszClassName = L"FuzzOwner";
    RegisterClassW(&wc);
    HWND owner = CreateWindowExW(0, L"FuzzOwner", L"Owner", WS_POPUP | WS_VISIBLE, 0, 26, 240, 268, nullptr,
                                 nullptr, nullptr, nullptr);
    if (owner == nullptr) Trip("the owner window could not be made");
    Dialogs(h, owner);
    MenuBar(h, owner);
    Bitmaps(h);
    DestroyWindow(owner);
    if (bench::LiveGdiObjects() != 0) Trip("GDI objects outlived their windows", static_cast<unsigned>(bench::LiveGdiObjects()));
    if (bench::OpenWindowDCs() != 0) Trip("a window DC stayed open", static_cast<unsigned>(bench::OpenWindowDCs()));
    if (!bench::TopLevelWindows().empty()) Trip("a window outlived its owner");
    if (!FreeLibrary(h)) Trip("FreeLibrary refused the module");
  }
  if (sim::LoadedModules() != 0) Trip("a module stayed loaded", static_cast<unsigned>(sim::LoadedModules()));
  std::remove(filePath.c_str());
  if (!bench::Reset()) Trip("bench::Reset failed");
  return 0;
}
