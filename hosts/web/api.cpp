// The browser view's requests and the state it draws. Every control the page has maps
// to one thing the bench's user does: a stylus press, a key byte on the line, the
// cradle, a tray tap, a menu command, a message box's answer.
#include "hosts/web/api.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cinttypes>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <deque>
#include <fstream>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <vector>

#include "engine/keytables.h"
#include "engine/state.h"
#include "platform/platform.h"
#include "platform/sim/bench.h"
#include "platform/sim/bench_comm.h"
#include "platform/sim/bench_gdi.h"
#include "platform/sim/bench_shell.h"
#include "platform/sim/bench_ui.h"
#include "platform/sim/bench_view.h"

using nlohmann::json;

namespace web {
namespace {

constexpr int kScreenW = 240;
constexpr int kScreenH = 320;
constexpr size_t kTraceKept = 2000;

// Taken only after sendMu and never around a bench call: the trace sink takes it with
// the platform's locks held.
struct State {
  std::mutex mu;
  Setup setup;
  bool plugged = true;
  bool cradle = false;
  bool busy = false;
  bool started = false;  // the program has started, notes is in front again
  bool ended = false;
  int exitCode = 0;
  std::map<int, std::set<int>> pages;  // open pages and the scan codes each holds down
  int nextPage = 0;
  std::string run;      // which start of brindle-web this is
  std::string startTime;  // when brindle-web started, local time
  bool helpOpen = false;
  std::string helpTopic;     // the help viewer's command line: "file.htc#anchor"
  size_t programsSeen = 0;  // bench::StartedPrograms() looked at so far
  std::deque<std::string> trace;
  uint64_t traceEnd = 0;  // number of lines ever appended
};
State& S() {
  static State s;
  return s;
}
std::atomic<int> listenPort{0};
// A key's byte and the page's record of it go out together, so a page that closes
// never leaves behind a key it was pressing at that moment.
std::mutex sendMu;

Reply Error(int status, const std::string& why) {
  Reply r;
  r.status = status;
  r.body = json{{"error", why}}.dump();
  return r;
}

Reply Ok(json body = json::object()) {
  Reply r;
  r.body = body.dump();
  return r;
}

std::string HandleText(const void* h) {
  char buf[32];
  snprintf(buf, sizeof buf, "0x%" PRIxPTR, (uintptr_t)h);
  return buf;
}

// A window handle the page names, accepted only when it is a top-level window now.
HWND TopLevel(const json& v) {
  if (!v.is_string()) return nullptr;
  std::string s = v.get<std::string>();
  if (s.size() < 3 || s.size() > 18 || s[0] != '0' || s[1] != 'x') return nullptr;
  char* end = nullptr;
  uintptr_t value = (uintptr_t)strtoull(s.c_str() + 2, &end, 16);
  if (!end || *end) return nullptr;
  for (const bench::TopLevelWindow& w : bench::TopLevelWindows())
    if ((uintptr_t)w.hwnd == value) return w.hwnd;
  return nullptr;
}

bool Int(const json& body, const char* key, long long lo, long long hi, long long* out) {
  auto it = body.find(key);
  if (it == body.end() || !it->is_number_integer()) return false;
  long long v = it->get<long long>();
  if (v < lo || v > hi) return false;
  *out = v;
  return true;
}

bool Bool(const json& body, const char* key, bool* out) {
  auto it = body.find(key);
  if (it == body.end() || !it->is_boolean()) return false;
  *out = it->get<bool>();
  return true;
}

// Only the fields named may appear: a misspelt control is refused, not ignored.
bool OnlyFields(const json& body, std::initializer_list<const char*> allowed) {
  for (auto it = body.begin(); it != body.end(); ++it) {
    bool known = false;
    for (const char* a : allowed) known = known || it.key() == a;
    if (!known) return false;
  }
  return true;
}

json RectJson(const RECT& r) { return json::array({r.left, r.top, r.right, r.bottom}); }

uint64_t Fnv(const std::vector<uint32_t>& px) {
  uint64_t h = 1469598103934665603ull;
  for (uint32_t p : px) h = (h ^ p) * 1099511628211ull;
  return h;
}

// Window pixels are 0xRRGGBB; an icon's carry their own alpha.
Reply PixelsReply(const bench::Pixels& p, bool alpha) {
  Reply r;
  r.type = "application/octet-stream";
  // width and height (little-endian 32 bits), then RGBA rows: what a canvas takes.
  r.body.resize(8 + p.rgb.size() * 4);
  char* o = &r.body[0];
  for (int i = 0; i < 4; ++i) o[i] = (char)((unsigned)p.width >> (8 * i)), o[4 + i] = (char)((unsigned)p.height >> (8 * i));
  o += 8;
  for (uint32_t v : p.rgb) {
    *o++ = (char)(v >> 16);
    *o++ = (char)(v >> 8);
    *o++ = (char)v;
    *o++ = (char)(alpha ? v >> 24 : 0xFF);
  }
  return r;
}

std::string QueryValue(const std::string& query, const std::string& key) {
  std::stringstream ss(query);
  std::string part;
  while (std::getline(ss, part, '&'))
    if (part.compare(0, key.size() + 1, key + "=") == 0) return part.substr(key.size() + 1);
  return "";
}

json MenuItemsJson(const std::vector<bench::MenuItem>& items) {
  json out = json::array();
  for (const bench::MenuItem& i : items)
    out.push_back({{"text", i.text}, {"command", i.command}, {"separator", i.separator},
                   {"grayed", i.grayed}, {"popup", i.popup}, {"items", MenuItemsJson(i.items)}});
  return out;
}

// ---- requests ----

Reply Stylus(const json& body) {
  long long x, y;
  auto action = body.find("action");
  if (!OnlyFields(body, {"action", "x", "y"}) || action == body.end() || !action->is_string() ||
      !Int(body, "x", 0, kScreenW - 1, &x) || !Int(body, "y", 0, kScreenH - 1, &y))
    return Error(400, "stylus wants {action: down|move|up, x: 0-239, y: 0-319}");
  std::string a = action->get<std::string>();
  if (a == "down") return Ok({{"window", HandleText(bench::StylusDown((int)x, (int)y))}});
  if (a == "move") return bench::StylusMove((int)x, (int)y), Ok();
  if (a == "up") return bench::StylusUp((int)x, (int)y), Ok();
  return Error(400, "stylus action is down, move or up");
}

Reply Key(const json& body) {
  long long scan, page = 0;
  bool down;
  if (!OnlyFields(body, {"scan", "down", "page"}) || !Int(body, "scan", 0, 0x7F, &scan) || !Bool(body, "down", &down) ||
      (body.contains("page") && !Int(body, "page", 1, INT_MAX, &page)))
    return Error(400, "key wants {scan: 0-127, down: true|false, page: the page's number (optional)}");
  std::lock_guard<std::mutex> order(sendMu);
  bool sent = false;
  {
    std::lock_guard<std::mutex> g(S().mu);
    if (page && !S().pages.count((int)page)) return Error(409, "no such open page");
    if (S().ended) return Error(409, "brindle has ended: the key went nowhere");
    // An unplugged keyboard sends nothing; with a real device, the device types.
    sent = S().plugged && S().setup.tty.empty();
    if (page) {
      std::set<int>& held = S().pages[(int)page];
      if (!down) held.erase((int)scan);
      else if (sent) held.insert((int)scan);
    }
  }
  if (sent) bench::SendKeyBytes({(unsigned char)(scan | (down ? 0 : 0x80))});
  return Ok({{"sent", sent}});
}

Reply Line(const json& body) {
  if (body.empty() || !OnlyFields(body, {"plugged", "cradle", "busy", "resume"}))
    return Error(400, "line wants one or more of plugged, cradle, busy, resume");
  bool plugged, cradle, busy, resume;
  bool hasPlugged = body.contains("plugged"), hasCradle = body.contains("cradle"), hasBusy = body.contains("busy"),
       hasResume = body.contains("resume");
  if ((hasPlugged && !Bool(body, "plugged", &plugged)) || (hasCradle && !Bool(body, "cradle", &cradle)) ||
      (hasBusy && !Bool(body, "busy", &busy)) || (hasResume && (!Bool(body, "resume", &resume) || !resume)))
    return Error(400, "line values are true or false (resume: true)");
  {
    std::lock_guard<std::mutex> g(S().mu);
    if (!S().setup.tty.empty() && (hasCradle || hasResume || hasBusy))
      return Error(409, "the line is a real device: its carrier is its own");
    if (hasPlugged) S().plugged = plugged;
    if (hasCradle) S().cradle = cradle;
    if (hasBusy) S().busy = busy;
  }
  if (hasBusy) bench::SetPortBusy(busy);
  if (hasCradle) bench::SetCarrier(cradle);
  if (hasResume) bench::RaiseResume();
  // The page draws the line too: every open page must hear of the change now, not at
  // the screen's next change.
  bench::NoteViewChange();
  return Ok();
}

// The help viewer is the handheld's, not the program's: the person closes it.
Reply Help(const json& body) {
  bool open;
  if (!OnlyFields(body, {"open"}) || !Bool(body, "open", &open) || open)
    return Error(400, "help wants {open: false}");
  {
    std::lock_guard<std::mutex> g(S().mu);
    if (!S().helpOpen) return Error(409, "the help viewer is not open");
    S().helpOpen = false;
  }
  bench::NoteViewChange();
  return Ok();
}

// A help page's file name: a plain name in the build's help folder, nothing that leads
// out of it.
bool HelpName(const std::string& name) {
  if (name.empty() || name.size() > 64 || name[0] == '.') return false;
  for (char c : name)
    if (!isalnum((unsigned char)c) && c != '.' && c != '_' && c != '-') return false;
  return true;
}

std::string Lower(std::string s) {
  for (char& c : s) c = (char)tolower((unsigned char)c);
  return s;
}

// The handheld's help viewer reads its pages as windows-1252.
const char* HelpType(const std::string& name) {
  std::string ext = Lower(name.substr(name.rfind('.') == std::string::npos ? name.size() : name.rfind('.')));
  if (ext == ".htc" || ext == ".htm" || ext == ".html") return "text/html; charset=windows-1252";
  if (ext == ".gif") return "image/gif";
  if (ext == ".png") return "image/png";
  if (ext == ".bmp") return "image/bmp";
  if (ext == ".jpg" || ext == ".jpeg") return "image/jpeg";
  if (ext == ".css") return "text/css";
  return nullptr;
}

Reply HelpFile(const std::string& name) {
  std::string dir;
  {
    std::lock_guard<std::mutex> g(S().mu);
    dir = S().setup.helpDir;
  }
  const char* type = HelpType(name);
  if (dir.empty() || !HelpName(name) || !type) return Error(404, "no such help page");
  std::ifstream in(dir + "/" + name, std::ios::binary);
  if (!in) return Error(404, "no such help page");
  std::stringstream ss;
  ss << in.rdbuf();
  return Reply{200, type, ss.str()};
}

// The program opens its help as the handheld's own viewer with "file.htc#topic".
void FollowStartedPrograms() {
  std::vector<std::string> started = bench::StartedPrograms();
  {
    std::lock_guard<std::mutex> g(S().mu);
    if (started.size() < S().programsSeen) S().programsSeen = 0;  // the handheld was reset
    for (size_t i = S().programsSeen; i < started.size(); ++i) {
      const std::string& p = started[i];
      size_t space = p.find(' ');
      std::string program = Lower(p.substr(0, space));
      size_t folder = program.find_last_of("\\/");
      if (folder != std::string::npos) program = program.substr(folder + 1);
      if (program != "peghelp.exe" && program != "peghelp") continue;
      S().helpTopic = space == std::string::npos ? "" : p.substr(space + 1);
      S().helpOpen = true;
    }
    S().programsSeen = started.size();
  }
}

// Where the page finds the topic: "/help/file.htc#anchor" (empty when it names no page
// of ours).
std::string HelpUrl(const std::string& topic) {
  size_t hash = topic.find('#');
  std::string file = topic.substr(0, hash), anchor = hash == std::string::npos ? "" : topic.substr(hash + 1);
  if (!HelpName(file)) return "";
  for (char c : anchor)
    if (!isalnum((unsigned char)c) && c != '_' && c != '-' && c != '.') return "";
  return "/help/" + file + (anchor.empty() ? "" : "#" + anchor);
}

std::string MediaType(const std::string& contentType) {
  std::string t = Lower(contentType.substr(0, contentType.find(';')));
  size_t a = t.find_first_not_of(" \t"), b = t.find_last_not_of(" \t");
  return a == std::string::npos ? "" : t.substr(a, b - a + 1);
}

Reply Menu(const json& body) {
  long long command;
  HWND owner = TopLevel(body.contains("owner") ? body["owner"] : json());
  if (!OnlyFields(body, {"owner", "command"}) || !owner || !Int(body, "command", 1, 0xFFFF, &command))
    return Error(400, "menu wants {owner: a top-level window, command: 1-65535}");
  if (!bench::ChooseMenuCommand(owner, (UINT)command)) return Error(409, "the bar has no such command now");
  return Ok();
}

Reply Tray(const json& body) {
  long long id;
  if (!OnlyFields(body, {"hwnd", "id"}) || !body.contains("hwnd") || !Int(body, "id", 0, 0xFFFFFFFFll, &id))
    return Error(400, "tray wants {hwnd, id}");
  for (const bench::TrayEntry& t : bench::TrayIcons())
    if (HandleText(t.hwnd) == body["hwnd"] && t.id == (UINT)id)
      return bench::TapTrayIcon(t.hwnd, t.id) ? Ok() : Error(409, "the icon takes no taps");
  return Error(400, "no such tray icon");
}

Reply Box(const json& body) {
  long long id, answer;
  if (!OnlyFields(body, {"id", "answer"}) || !Int(body, "id", 1, 0x7FFFFFFF, &id) ||
      !Int(body, "answer", 1, 11, &answer))
    return Error(400, "box wants {id, answer}");
  if (!bench::AnswerOpenMessageBox((int)id, (int)answer)) return Error(409, "no such open box or button");
  return Ok();
}

Reply Foreground(const json& body) {
  HWND w = TopLevel(body.contains("hwnd") ? body["hwnd"] : json());
  if (!OnlyFields(body, {"hwnd"}) || !w) return Error(400, "foreground wants {hwnd: a top-level window}");
  SetForegroundWindow(w);
  return Ok();
}

Reply Done(const json& body) {
  HWND w = TopLevel(body.contains("hwnd") ? body["hwnd"] : json());
  if (!OnlyFields(body, {"hwnd"}) || !w) return Error(400, "done wants {hwnd: a top-level window}");
  return bench::PressDoneButton(w) ? Ok() : Error(409, "the window has no Done button");
}

Reply Pixels(const std::string& query) {
  json h = QueryValue(query, "hwnd");
  HWND w = TopLevel(h);
  if (!w) return Error(400, "pixels wants ?hwnd= a top-level window");
  return PixelsReply(bench::WindowPixels(w), false);
}

Reply Icon(const std::string& query) {
  std::string h = QueryValue(query, "handle");
  // Only icons something on the screen shows now: a handle is never taken on trust.
  for (const bench::TrayEntry& t : bench::TrayIcons())
    if (HandleText(t.icon) == h) return PixelsReply(bench::IconPixels(t.icon), true);
  for (const bench::TopLevelWindow& w : bench::TopLevelWindows())
    for (const bench::ChildView& c : bench::ChildWindows(w.hwnd))
      if (HICON icon = bench::ControlIcon(c.hwnd); icon && HandleText(icon) == h)
        return PixelsReply(bench::IconPixels(icon), true);
  return Error(404, "no such icon on the screen");
}

json KeyboardJson() {
  json keys = json::array();
  for (const ScanVkRow& r : ScanVkTable) {
    json k = {{"scan", r.Scan}, {"vk", r.Vk}};
    for (const FnCharRow& f : FnCharTable)
      if (f.Scan == r.Scan) k["fnChar"] = (int)f.Char;
    keys.push_back(k);
  }
  keys.push_back({{"scan", SCAN_FN}, {"vk", 0}});
  return {{"keys", keys}};
}

// S().mu held.
json LineLocked() {
  return {{"tty", S().setup.tty}, {"plugged", S().plugged}, {"cradle", S().cradle}, {"busy", S().busy}};
}

}  // namespace

void Configure(const Setup& setup) {
  size_t programs = bench::StartedPrograms().size();
  auto now = std::chrono::system_clock::now();
  time_t t = std::chrono::system_clock::to_time_t(now);
  char startTime[32];
  strftime(startTime, sizeof startTime, "%Y-%m-%d %H:%M:%S", localtime(&t));
  std::lock_guard<std::mutex> order(sendMu);
  std::lock_guard<std::mutex> g(S().mu);
  State& s = S();
  s.setup = setup;
  s.plugged = true;
  s.cradle = s.busy = s.started = s.ended = s.helpOpen = false;
  s.exitCode = 0;
  s.pages.clear();
  s.helpTopic.clear();
  s.programsSeen = programs;
  s.startTime = startTime;
  s.run = std::to_string(getpid()) + "-" +
          std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count());
}

void SetPort(int port) { listenPort = port; }

bool Refused(const Request& r, Reply* reply) {
  std::string self = "127.0.0.1:" + std::to_string(listenPort.load());
  if (r.host != self) {
    *reply = Error(403, "this handheld answers only to http://" + self + "/");
    return true;
  }
  if (r.method == "GET" || r.method == "HEAD") return false;
  if (r.origin != "http://" + self) {
    *reply = Error(403, "changes are taken only from the handheld's own page, http://" + self);
    return true;
  }
  if (MediaType(r.contentType) != "application/json") {
    *reply = Error(403, "changes are sent as application/json");
    return true;
  }
  return false;
}

void NoteProgramStarted() {
  {
    std::lock_guard<std::mutex> g(S().mu);
    S().started = true;
  }
  bench::NoteViewChange();
}

void NoteProgramEnded(int exitCode) {
  {
    std::lock_guard<std::mutex> g(S().mu);
    S().ended = true;
    S().exitCode = exitCode;
  }
  bench::NoteViewChange();
}

int OpenPage() {
  int page;
  {
    std::lock_guard<std::mutex> g(S().mu);
    page = ++S().nextPage;
    S().pages[page];
  }
  bench::NoteViewChange();
  return page;
}

void ClosePage(int page) {
  std::lock_guard<std::mutex> order(sendMu);
  std::vector<unsigned char> lift;
  bool sent;
  {
    std::lock_guard<std::mutex> g(S().mu);
    auto it = S().pages.find(page);
    if (it == S().pages.end()) return;
    // A key another open page still holds stays down.
    for (int scan : it->second) {
      bool elsewhere = false;
      for (const auto& [other, held] : S().pages) elsewhere = elsewhere || (other != page && held.count(scan));
      if (!elsewhere) lift.push_back((unsigned char)(scan | 0x80));
    }
    S().pages.erase(it);
    sent = S().plugged && S().setup.tty.empty() && !S().ended;
  }
  if (sent && !lift.empty()) bench::SendKeyBytes(lift);
  bench::NoteViewChange();
}

std::string LineJson() {
  std::lock_guard<std::mutex> g(S().mu);
  return LineLocked().dump();
}

int Latches() {
  return (StickyShiftLatched != 0 ? 1 : 0) | (StickyFnLatched != 0 ? 2 : 0) | ((GetKeyState(VK_CAPITAL) & 1) ? 4 : 0);
}

std::string HelloJson(int page) {
  std::lock_guard<std::mutex> g(S().mu);
  return json{{"page", page}, {"run", S().run}, {"started", S().startTime}}.dump();
}

void AppendTrace(const std::string& line) {
  std::lock_guard<std::mutex> g(S().mu);
  S().trace.push_back(line);
  if (S().trace.size() > kTraceKept) S().trace.pop_front();
  ++S().traceEnd;
}

std::string TraceJson(uint64_t seq, uint64_t* next) {
  std::lock_guard<std::mutex> g(S().mu);
  uint64_t first = S().traceEnd - S().trace.size();
  uint64_t skipped = seq < first ? first - seq : 0;  // lines dropped before the page asked
  if (seq < first) seq = first;
  if (seq > S().traceEnd) seq = S().traceEnd;
  json lines = json::array();
  for (uint64_t i = seq; i < S().traceEnd; ++i) lines.push_back(S().trace[i - first]);
  *next = S().traceEnd;
  return json{{"from", seq}, {"lines", lines}, {"skipped", skipped}}.dump(-1, ' ', false,
                                                                                     json::error_handler_t::replace);
}

std::string RegistryText() {
  std::string path;
  {
    std::lock_guard<std::mutex> g(S().mu);
    path = S().setup.registry;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) return "";
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::string StateJson() {
  FollowStartedPrograms();
  json state;
  {
    std::lock_guard<std::mutex> g(S().mu);
    state["program"] = {{"started", S().started},
                        {"ended", S().ended},
                        {"exitCode", S().exitCode},
                        {"language", S().setup.language},
                        {"registry", S().setup.registry}};
    state["line"] = LineLocked();
    state["pages"] = S().pages.size();
    state["help"] = {{"open", S().helpOpen}, {"url", HelpUrl(S().helpTopic)}, {"pages", !S().setup.helpDir.empty()}};
  }
  int latches = Latches();
  state["keyboard"] = {{"shiftLatched", (latches & 1) != 0}, {"fnLatched", (latches & 2) != 0},
                       {"capsLock", (latches & 4) != 0}};
  std::vector<bench::TopLevelWindow> tops = bench::TopLevelWindows();
  state["foreground"] = HandleText(GetForegroundWindow());
  json windows = json::array(), bars = json::array();
  for (auto it = tops.rbegin(); it != tops.rend(); ++it) {  // bottom first: the page stacks in order
    const bench::TopLevelWindow& w = *it;
    bench::MenuBar bar = bench::GetMenuBar(w.hwnd);
    if (bar.present) {
      json buttons = json::array();
      for (const bench::MenuButton& b : bar.buttons)
        buttons.push_back({{"text", b.text}, {"command", b.command}, {"enabled", (b.state & 4) != 0},
                           {"dropdown", b.dropdown}, {"items", MenuItemsJson(b.items)}});
      bars.push_back({{"owner", HandleText(w.hwnd)}, {"hwnd", HandleText(bar.hwnd)}, {"rect", RectJson(bar.rect)},
                      {"visible", bar.visible}, {"buttons", buttons}});
    }
    if (!w.visible) continue;
    json win = {{"hwnd", HandleText(w.hwnd)}, {"cls", w.cls},           {"title", w.title},
                {"rect", RectJson(w.rect)},   {"enabled", w.enabled}, {"done", bench::GetShellDialog(w.hwnd).doneButton}};
    if (w.cls != "menu_worker" && w.cls != "Dialog") {
      // Windows the program paints itself are shown as its pixels; the hash tells the
      // page when to fetch them again.
      char hash[24];
      snprintf(hash, sizeof hash, "%016" PRIx64, Fnv(bench::WindowPixels(w.hwnd).rgb));
      win["pixels"] = hash;
    }
    json children = json::array();
    for (const bench::ChildView& c : bench::ChildWindows(w.hwnd)) {
      if (!c.visible) continue;
      json cj = {{"hwnd", HandleText(c.hwnd)}, {"parent", HandleText(GetParent(c.hwnd))}, {"id", c.id},         {"cls", c.cls},         {"text", c.text},
                 {"style", c.style},           {"rect", RectJson(c.rect)}, {"enabled", c.enabled},
                 {"focused", c.focused}};
      if (c.check >= 0) cj["check"] = c.check;
      if (c.pos >= 0) cj["trackbar"] = {{"pos", c.pos}, {"min", c.min}, {"max", c.max}, {"thumbX", c.thumbX}};
      if (HICON icon = bench::ControlIcon(c.hwnd)) cj["icon"] = HandleText(icon);
      if (!c.fontFace.empty()) cj["font"] = {{"face", c.fontFace}, {"height", c.fontHeight}};
      if (c.caret >= 0) cj["caret"] = c.caret, cj["selEnd"] = c.selEnd;
      children.push_back(cj);
    }
    win["children"] = children;
    windows.push_back(win);
  }
  state["windows"] = windows;
  state["menubars"] = bars;
  json tray = json::array();
  for (const bench::TrayEntry& t : bench::TrayIcons())
    tray.push_back({{"hwnd", HandleText(t.hwnd)}, {"id", t.id}, {"icon", HandleText(t.icon)}, {"iconId", t.iconId},
                    {"tip", t.tip}});
  state["tray"] = tray;
  json boxes = json::array();
  for (const bench::OpenBox& b : bench::OpenMessageBoxes())
    boxes.push_back({{"id", b.id},     {"owner", HandleText(b.owner)}, {"text", b.text},
                     {"caption", b.caption}, {"type", b.type}, {"buttons", b.buttons},
                     {"words", b.words},       {"defaultButton", b.defaultButton}});
  state["boxes"] = boxes;
  // Texts from the program are UTF-8 made from UTF-16; a lone surrogate must not stop the page.
  return state.dump(-1, ' ', false, json::error_handler_t::replace);
}

Reply Handle(const Request& request) {
  Reply refusal;
  if (Refused(request, &refusal)) return refusal;
  const std::string &method = request.method, &path = request.path, &query = request.query;
  if (method == "GET" || method == "HEAD") {
    if (path.compare(0, 6, "/help/") == 0) return HelpFile(path.substr(6));
    if (path == "/api/state") return Reply{200, "application/json", StateJson()};
    if (path == "/api/keyboard") return Ok(KeyboardJson());
    if (path == "/api/pixels") return Pixels(query);
    if (path == "/api/icon") return Icon(query);
    if (path == "/api/registry") return Reply{200, "text/plain; charset=utf-8", RegistryText()};
    if (path == "/api/trace") {
      uint64_t next = 0;
      return Reply{200, "application/json", TraceJson(strtoull(QueryValue(query, "since").c_str(), nullptr, 10), &next)};
    }
    return Error(404, "no such page");
  }
  if (method != "POST") return Error(405, "GET or POST");
  json j = json::parse(request.body, nullptr, false);
  if (j.is_discarded() || !j.is_object()) return Error(400, "the body is not a JSON object");
  if (path == "/api/stylus") return Stylus(j);
  if (path == "/api/key") return Key(j);
  if (path == "/api/line") return Line(j);
  if (path == "/api/menu") return Menu(j);
  if (path == "/api/tray") return Tray(j);
  if (path == "/api/box") return Box(j);
  if (path == "/api/foreground") return Foreground(j);
  if (path == "/api/done") return Done(j);
  if (path == "/api/help") return Help(j);
  return Error(400, "unknown control");
}

}  // namespace web
