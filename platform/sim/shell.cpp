// The simulated shell: programs started (recorded, never run), the tray, icons read
// from a module's RT_GROUP_ICON / RT_ICON resources, and the item calls on controls.
#include <algorithm>
#include <cstring>
#include <map>
#include <tuple>

#include "bench_shell.h"
#include "bench_view.h"
#include "core.h"
#include "gdi_internal.h"
#include "dlg_internal.h"
#include "res_internal.h"
#include "shell_internal.h"

namespace sim {

namespace {

constexpr DWORD kDeviceShellExecuteInfoSize = 60;
constexpr DWORD kDeviceNotifyIconDataSize = 152;
constexpr int kIconSize = 32;  // SM_CXICON on the device

struct Icon {
  HMODULE module;
  std::string name;  // resource id as text, or the string name
  int id = 0;
  int width = 0;
  int height = 0;
  int bitCount = 0;
  bool owned = false;  // the caller's own copy: DestroyIcon frees it
  std::vector<uint8_t> image;  // the RT_ICON bytes, for the bench's eyes
};

struct Tray {
  UINT flags = 0;
  UINT callback = 0;
  HICON icon = nullptr;
  std::wstring tip;
  uint64_t added = 0;  // the tray shows icons in the order they came
};

struct Shell {
  std::map<std::tuple<HMODULE, std::string, int>, HICON> iconByName;  // shared icons
  std::map<HICON, Icon> icons;
  uintptr_t nextIcon = 0x70000;
  std::map<std::pair<HWND, UINT>, Tray> tray;
  uint64_t trayAdds = 0;
  std::vector<std::string> started;
};

Shell& S() {
  static Shell* s = new Shell;
  return *s;
}

uint16_t U16(const uint8_t* p) { return (uint16_t)(p[0] | p[1] << 8); }
uint32_t U32(const uint8_t* p) { return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24; }

std::string NameText(LPCWSTR name) {
  if (IS_INTRESOURCE(name)) return std::to_string((unsigned)(uintptr_t)name);
  return Narrow(name);
}

// The program has no PE file of its own on the host: its icons live in brindle_icons.dll
// beside it, given to the program's module whenever that module has no icons.
void EnsureProgramIcons() {
  std::vector<uint8_t> probe;
  if (ResourceBytes(ProgramModule(), RT_GROUP_ICON, MAKEINTRESOURCEW(108), &probe)) return;
  SetProgramResources(L"brindle_icons.dll");
}

std::string Field(LPCWSTR s) { return s ? Narrow(s) : std::string(); }

}  // namespace

int IconResourceId(HICON icon) {
  auto it = S().icons.find(icon);
  return it == S().icons.end() ? 0 : it->second.id;
}

std::string IconLabel(HICON icon) {
  if (!icon) return "0";
  auto it = S().icons.find(icon);
  return it == S().icons.end() ? "?" : it->second.name;
}

}  // namespace sim

using namespace sim;

// ---- starting programs ----------------------------------------------------------

BOOL WINAPI ShellExecuteExW(LPSHELLEXECUTEINFOW info) {
  Lock lk(Mu());
  if (!info || (info->cbSize != kDeviceShellExecuteInfoSize && info->cbSize != sizeof(SHELLEXECUTEINFOW)) ||
      !info->lpFile || !*info->lpFile) {
    SetError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::string entry = Narrow(info->lpFile);
  if (info->lpParameters && *info->lpParameters) entry += " " + Narrow(info->lpParameters);
  Record("ShellExecuteEx(" + entry + ")");
  S().started.push_back(entry);
  info->hInstApp = (HINSTANCE)(uintptr_t)33;  // above 32: started
  if (info->cbSize == sizeof(SHELLEXECUTEINFOW)) info->hProcess = nullptr;
  return TRUE;
}

BOOL WINAPI CreateProcessW(LPCWSTR application, LPWSTR commandLine, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES,
                           BOOL, DWORD, LPVOID, LPCWSTR, LPSTARTUPINFOW, LPPROCESS_INFORMATION pi) {
  Lock lk(Mu());
  if ((!application || !*application) && (!commandLine || !*commandLine)) {
    SetError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::string entry = Field(application);
  std::string args = Field(commandLine);
  Record("CreateProcess(" + entry + ", " + args + ")");
  S().started.push_back(args.empty() ? entry : entry.empty() ? args : entry + " " + args);
  if (pi) memset(pi, 0, sizeof *pi);  // nothing runs: no handles to give
  return TRUE;
}

// ---- icons ----------------------------------------------------------------------

namespace sim {
void ModuleUnloaded(HMODULE module) {
  Lock lk(Mu());
  Shell& s = S();
  for (auto it = s.iconByName.begin(); it != s.iconByName.end();) {
    if (std::get<0>(it->first) == module) {
      s.icons.erase(it->second);
      it = s.iconByName.erase(it);
    } else {
      ++it;
    }
  }
}
}  // namespace sim

namespace sim {
HICON LoadIconSized(HMODULE instance, LPCWSTR name, int size, bool shared) {
  if (!instance || !name) {
    SetError(ERROR_RESOURCE_NAME_NOT_FOUND);  // no system icons here
    return nullptr;
  }
  if (instance == ProgramModule()) EnsureProgramIcons();
  Shell& s = S();
  std::string key = NameText(name);
  auto known = s.iconByName.find({instance, key, size});
  if (shared && known != s.iconByName.end()) return known->second;  // one shared handle per resource and size

  std::vector<uint8_t> group;
  if (!ResourceBytes(instance, RT_GROUP_ICON, name, &group)) return nullptr;
  // GRPICONDIR: reserved, type 1, count, then 14-byte entries ending in the RT_ICON id.
  if (group.size() < 6 || U16(&group[2]) != 1) {
    SetError(ERROR_RESOURCE_DATA_NOT_FOUND);
    return nullptr;
  }
  size_t count = U16(&group[4]);
  if (count == 0 || group.size() < 6 + 14 * count) {
    SetError(ERROR_RESOURCE_DATA_NOT_FOUND);
    return nullptr;
  }
  // The image nearest the asked size; between two equally near, the larger, since
  // shrinking looks better than growing. Size 0 takes the first image as it is.
  int best = 0, bestWidth = group[6] ? group[6] : 256;
  for (size_t i = 1; i < count && size > 0; ++i) {
    const uint8_t* e = &group[6 + 14 * i];
    int w = e[0] ? e[0] : 256;
    int d = w > size ? w - size : size - w, bestD = bestWidth > size ? bestWidth - size : size - bestWidth;
    if (d < bestD || (d == bestD && w > bestWidth)) best = (int)i, bestWidth = w;
  }
  const uint8_t* e = &group[6 + 14 * best];
  WORD imageId = U16(e + 12);
  std::vector<uint8_t> image;
  if (!ResourceBytes(instance, RT_ICON, MAKEINTRESOURCEW(imageId), &image)) return nullptr;
  // A BITMAPINFOHEADER whose height counts the colour image and its mask.
  if (image.size() < 40 || U32(&image[0]) != 40) {
    SetError(ERROR_RESOURCE_DATA_NOT_FOUND);
    return nullptr;
  }
  Icon icon;
  icon.module = instance;
  icon.name = key;
  icon.id = IS_INTRESOURCE(name) ? (int)(uintptr_t)name : 0;
  icon.width = (int32_t)U32(&image[4]);
  icon.height = (int32_t)U32(&image[8]) / 2;
  icon.bitCount = U16(&image[14]);
  icon.owned = !shared;
  icon.image = std::move(image);
  HICON h = (HICON)s.nextIcon;
  s.nextIcon += 4;
  s.icons[h] = icon;
  if (shared) s.iconByName[{instance, key, size}] = h;
  return h;
}
}  // namespace sim

HICON WINAPI LoadIconW(HINSTANCE instance, LPCWSTR name) {
  Lock lk(Mu());
  return LoadIconSized(instance, name, kIconSize, true);
}

BOOL WINAPI DestroyIcon(HICON icon) {
  Lock lk(Mu());
  // Icons from LoadIconW are shared and stay loaded, as on the device.
  auto it = S().icons.find(icon);
  if (it == S().icons.end()) {
    SetError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (it->second.owned) S().icons.erase(it);
  return TRUE;
}

// ---- the tray -------------------------------------------------------------------

BOOL WINAPI Shell_NotifyIconW(DWORD message, PNOTIFYICONDATAW data) {
  static const char* const kNames[] = {"NIM_ADD", "NIM_MODIFY", "NIM_DELETE"};
  bool window = data && IsWindow(data->hWnd);
  Lock lk(Mu());
  if (!data || (data->cbSize != kDeviceNotifyIconDataSize && data->cbSize != sizeof(NOTIFYICONDATAW)) ||
      message > NIM_DELETE) {
    Record("Shell_NotifyIcon(" + std::to_string(message) + ") -> FALSE");
    SetError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::string entry = std::string("Shell_NotifyIcon(") + kNames[message] + ", " + std::to_string(data->uID);
  if (message != NIM_DELETE && (data->uFlags & NIF_ICON)) entry += ", icon=" + IconLabel(data->hIcon);
  entry += ")";
  auto& tray = S().tray;
  auto key = std::make_pair(data->hWnd, data->uID);
  auto it = tray.find(key);
  bool ok = true;
  switch (message) {
    case NIM_ADD:
      if (it != tray.end() || !window) {
        ok = false;
        break;
      }
      it = tray.emplace(key, Tray{}).first;
      it->second.added = ++S().trayAdds;
      [[fallthrough]];
    case NIM_MODIFY:
      if (it == tray.end()) {
        ok = false;
        break;
      }
      if (data->uFlags & NIF_MESSAGE) it->second.callback = data->uCallbackMessage;
      if (data->uFlags & NIF_ICON) it->second.icon = data->hIcon;
      if (data->uFlags & NIF_TIP) {
        const WCHAR* tip = data->szTip;
        it->second.tip.assign(tip, std::find(tip, tip + 64, (WCHAR)0));  // unterminated: all 64
      }
      it->second.flags |= data->uFlags & (NIF_MESSAGE | NIF_ICON | NIF_TIP);
      break;
    case NIM_DELETE:
      if (it == tray.end()) ok = false;
      else tray.erase(it);
      break;
  }
  Record(ok ? entry : entry + " -> FALSE");
  if (!ok) SetError(ERROR_INVALID_PARAMETER);
  return ok;
}

// ---- the bench ----------------------------------------------------------------

namespace {
struct ResetHook {
  ResetHook() {
    OnReset([] {
      Shell& s = S();
      s.tray.clear();
      s.started.clear();
    });
  }
} resetHook;
}  // namespace

namespace bench {

IconInfo DescribeIcon(HICON icon) {
  Lock lk(Mu());
  IconInfo info;
  auto it = S().icons.find(icon);
  if (it == S().icons.end()) return info;
  info.known = true;
  info.id = it->second.id;
  info.width = it->second.width;
  info.height = it->second.height;
  info.bitCount = it->second.bitCount;
  return info;
}

int TrayIconCount() {
  Lock lk(Mu());
  return (int)S().tray.size();
}

TrayIcon GetTrayIcon(HWND hwnd, UINT id) {
  Lock lk(Mu());
  TrayIcon t;
  auto it = S().tray.find({hwnd, id});
  if (it == S().tray.end()) return t;
  t.present = true;
  t.flags = it->second.flags;
  t.callbackMessage = it->second.callback;
  auto icon = S().icons.find(it->second.icon);
  t.iconId = icon == S().icons.end() ? 0 : icon->second.id;
  return t;
}

std::vector<TrayEntry> TrayIcons() {
  Lock lk(Mu());
  std::vector<std::pair<uint64_t, TrayEntry>> byAdd;
  for (auto& [key, t] : S().tray)
    byAdd.push_back({t.added, TrayEntry{key.first, key.second, t.icon, IconResourceId(t.icon), Narrow(t.tip.c_str())}});
  std::sort(byAdd.begin(), byAdd.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<TrayEntry> out;
  for (auto& e : byAdd) out.push_back(e.second);
  return out;
}

Pixels IconPixels(HICON icon) {
  Lock lk(Mu());
  Pixels p;
  auto it = S().icons.find(icon);
  if (it == S().icons.end()) return p;
  const std::vector<uint8_t>& image = it->second.image;
  if (!DecodeIcon(image.data(), image.size(), &p.width, &p.height, &p.rgb)) p = Pixels{};
  return p;
}

std::vector<std::string> StartedPrograms() {
  Lock lk(Mu());
  return S().started;
}

}  // namespace bench
