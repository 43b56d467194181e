// Fuzz target: any request to the browser view's handler. Every answer is one of the
// statuses the page knows; a refused request says why and changes nothing the page shows
// or the program could notice.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/platform.h"
#include "platform/sim/bench.h"
#include "hosts/web/api.h"

namespace {

[[noreturn]] void Trip(const char* what, const std::string& detail) {
  std::fprintf(stderr, "fuzz_web: invariant broken: %s\n%s\n", what, detail.c_str());
  std::abort();
}

const char* const kPaths[] = {"/api/key",   "/api/stylus", "/api/line",       "/api/menu",  "/api/tray",
                              "/api/box",   "/api/done",   "/api/foreground", "/api/state", "/api/pixels",
                              "/api/icon",  "/api/trace",  "/api/registry",   "/api/keyboard"};
const char* const kMethods[] = {"GET", "POST", "PUT"};

// A handheld with something on it: a window a request may name, and a trace.
bool SetUp() {
  bench::Reset();
  // Small: the state compared around each request hashes its pixels.
  CreateWindowExW(0, L"Static", L"target", WS_VISIBLE | WS_POPUP, 0, 26, 8, 8, nullptr, nullptr, nullptr, nullptr);
  web::Configure(web::Setup{"", "USA", ""});
  return true;
}

}  // namespace

// Input: a method byte, a path byte (past the table: the path is the text up to the first
// newline), then the query up to a newline, then the body.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool ready = SetUp();
  (void)ready;
  if (size < 2) return 0;
  std::string method = kMethods[data[0] % 3];
  std::string rest(reinterpret_cast<const char*>(data + 2), size - 2);
  std::string path;
  size_t pick = data[1];
  if (pick < sizeof kPaths / sizeof *kPaths) {
    path = kPaths[pick];
  } else {
    size_t nl = rest.find('\n');
    path = rest.substr(0, nl);
    rest = nl == std::string::npos ? "" : rest.substr(nl + 1);
  }
  size_t nl = rest.find('\n');
  std::string query = rest.substr(0, nl);
  std::string body = nl == std::string::npos ? rest : rest.substr(nl + 1);

  bench::ClearTrace();
  std::string before = web::StateJson();
  web::Reply r = web::Handle(method, path, query, body);
  if (r.status != 200 && r.status != 400 && r.status != 404 && r.status != 405 && r.status != 409)
    Trip("an unknown status", std::to_string(r.status) + " " + method + " " + path);
  if (r.status != 200) {
    if (r.body.find("\"error\"") == std::string::npos) Trip("a refusal without a reason", r.body);
    if (web::StateJson() != before) Trip("a refused request changed the screen", method + " " + path + " " + body);
    if (!bench::Trace().empty()) Trip("a refused request reached the program", bench::Trace().front());
  }
  return 0;
}
