// Fuzz target: any request to the browser view's handler. Every answer is one of the
// statuses the page knows; a refused request says why and changes nothing the page shows
// or the program could notice; a request naming another Host, or one that would change
// something without being JSON from the page's own origin, is refused with 403.
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

const char* const kPaths[] = {"/api/key",      "/api/stylus",   "/api/line",       "/api/menu",  "/api/tray",
                              "/api/box",      "/api/done",     "/api/foreground", "/api/state", "/api/pixels",
                              "/api/icon",     "/api/trace",    "/api/registry",   "/api/keyboard",
                              "/api/help",     "/help/tavlo.htc"};
const char* const kMethods[] = {"GET", "POST", "PUT", "HEAD"};
constexpr int kPort = 8240;
// The headers a request may carry: the right one, none, or one of another site.
const char* const kHosts[] = {"127.0.0.1:8240", "", "evil.example:8240", "127.0.0.1:8241"};
const char* const kOrigins[] = {"http://127.0.0.1:8240", "", "http://evil.example", "null"};
const char* const kTypes[] = {"application/json", "", "text/plain", "application/json; charset=utf-8"};

// A handheld with something on it: a window a request may name, and a trace.
bool SetUp() {
  bench::Reset();
  // Small: the state compared around each request hashes its pixels.
  CreateWindowExW(0, L"Static", L"target", WS_VISIBLE | WS_POPUP, 0, 26, 8, 8, nullptr, nullptr, nullptr, nullptr);
  web::Configure(web::Setup{"", "USA", "", ""});
  web::SetPort(kPort);
  return true;
}

}  // namespace

// Input: a method byte (its high bits pick the Host, Origin and Content-Type), a path
// byte (past the table: the path is the text up to the first newline), then the query up
// to a newline, then the body.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool ready = SetUp();
  (void)ready;
  if (size < 2) return 0;
  web::Request req;
  req.method = kMethods[data[0] & 3];
  req.host = kHosts[(data[0] >> 2) & 3];
  req.origin = kOrigins[(data[0] >> 4) & 3];
  req.contentType = kTypes[(data[0] >> 6) & 3];
  const std::string& method = req.method;
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
  req.path = path;
  req.query = rest.substr(0, nl);
  req.body = nl == std::string::npos ? rest : rest.substr(nl + 1);
  const std::string& body = req.body;

  bench::ClearTrace();
  std::string before = web::StateJson();
  web::Reply r = web::Handle(req);
  if (r.status != 200 && r.status != 400 && r.status != 403 && r.status != 404 && r.status != 405 && r.status != 409)
    Trip("an unknown status", std::to_string(r.status) + " " + method + " " + path);
  bool reads = method == "GET" || method == "HEAD";
  bool json = req.contentType == kTypes[0] || req.contentType == kTypes[3];
  bool foreign = req.host != kHosts[0] || (!reads && (req.origin != kOrigins[0] || !json));
  if (foreign != (r.status == 403))
    Trip(foreign ? "a request from elsewhere was answered" : "a page's request was refused",
         req.host + " " + req.origin + " " + req.contentType + " " + method + " " + path);
  if (r.status != 200) {
    if (r.body.find("\"error\"") == std::string::npos) Trip("a refusal without a reason", r.body);
    if (web::StateJson() != before) Trip("a refused request changed the screen", method + " " + path + " " + body);
    if (!bench::Trace().empty()) Trip("a refused request reached the program", bench::Trace().front());
  }
  return 0;
}
