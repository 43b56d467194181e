// The browser view's requests without a browser: what each does to the handheld, and
// that a bad one is refused and changes nothing.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "engine/state.h"
#include "platform/platform.h"
#include "platform/sim/bench.h"
#include "platform/sim/bench_comm.h"
#include "platform/sim/bench_view.h"
#include "hosts/web/api.h"

namespace {

constexpr int kPort = 8240;
const char* const kSelf = "127.0.0.1:8240";
const char* const kOrigin = "http://127.0.0.1:8240";

// A request as the handheld's own page sends it.
web::Request PageRequest(const std::string& method, const std::string& path, const std::string& body,
                         const std::string& query = "") {
  web::Request r;
  r.method = method;
  r.path = path;
  r.query = query;
  r.body = body;
  r.host = kSelf;
  if (method != "GET") r.origin = kOrigin, r.contentType = "application/json";
  return r;
}

class WebApi : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(bench::Reset());
    web::Configure(web::Setup{"", "USA", "", ""});
    web::SetPort(kPort);
    port_ = CreateFileW(L"COM1:", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(port_, INVALID_HANDLE_VALUE);
    COMMTIMEOUTS t{MAXDWORD, 0, 0, 0, 0};  // reads return at once with what has arrived
    SetCommTimeouts(port_, &t);
  }
  void TearDown() override {
    Post("/api/line", R"({"plugged": true, "cradle": false, "busy": false})");
    CloseHandle(port_);
  }
  static web::Reply Post(const std::string& path, const std::string& body) {
    return web::Handle(PageRequest("POST", path, body));
  }
  static nlohmann::json State() { return nlohmann::json::parse(web::StateJson()); }
  std::vector<unsigned char> Arrived() {
    unsigned char buf[64];
    DWORD got = 0;
    ReadFile(port_, buf, sizeof buf, &got, nullptr);
    return std::vector<unsigned char>(buf, buf + got);
  }
  bool Carrier() {
    DWORD status = 0;
    GetCommModemStatus(port_, &status);
    return (status & MS_RLSD_ON) != 0;
  }
  HANDLE port_ = INVALID_HANDLE_VALUE;
};

TEST_F(WebApi, KeysBecomeKeyBytesOnTheLine) {
  struct Case {
    const char* body;
    std::vector<unsigned char> bytes;
  } cases[] = {
      {R"({"scan": 4, "down": true})", {0x04}},
      {R"({"scan": 4, "down": false})", {0x84}},
      {R"({"down": true, "scan": 119})", {0x77}},
      {R"({"scan": 127, "down": false})", {0xFF}},
      {R"({"scan": 0, "down": true})", {0x00}},
  };
  for (const Case& c : cases) {
    web::Reply r = Post("/api/key", c.body);
    EXPECT_EQ(r.status, 200) << c.body;
    EXPECT_EQ(r.body, R"({"sent":true})") << c.body;
    EXPECT_EQ(Arrived(), c.bytes) << c.body;
  }
}

TEST_F(WebApi, AnUnpluggedKeyboardSendsNothingUntilPluggedAgain) {
  ASSERT_EQ(Post("/api/line", R"({"plugged": false})").status, 200);
  EXPECT_EQ(Post("/api/key", R"({"scan": 4, "down": true})").body, R"({"sent":false})");
  EXPECT_TRUE(Arrived().empty());
  ASSERT_EQ(Post("/api/line", R"({"plugged": true})").status, 200);
  EXPECT_EQ(Post("/api/key", R"({"scan": 5, "down": true})").body, R"({"sent":true})");
  EXPECT_EQ(Arrived(), std::vector<unsigned char>{0x05});
}

TEST_F(WebApi, TheCradleIsTheCarrier) {
  EXPECT_FALSE(Carrier());
  ASSERT_EQ(Post("/api/line", R"({"cradle": true})").status, 200);
  EXPECT_TRUE(Carrier());
  ASSERT_EQ(Post("/api/line", R"({"cradle": false})").status, 200);
  EXPECT_FALSE(Carrier());
}

TEST_F(WebApi, WithARealDeviceTheLineIsNotThePagesToChange) {
  web::Configure(web::Setup{"/dev/ttyS0", "USA", "", ""});
  EXPECT_EQ(Post("/api/line", R"({"cradle": true})").status, 409);
  EXPECT_EQ(Post("/api/key", R"({"scan": 4, "down": true})").body, R"({"sent":false})");
  EXPECT_FALSE(Carrier());
  EXPECT_TRUE(Arrived().empty());
}

TEST_F(WebApi, BadRequestsAreRefusedAndChangeNothing) {
  struct Case {
    const char* method;
    const char* path;
    const char* body;
    int status;
  } cases[] = {
      {"POST", "/api/key", R"({"scan": 128, "down": true})", 400},
      {"POST", "/api/key", R"({"scan": -1, "down": true})", 400},
      {"POST", "/api/key", R"({"scan": 4.5, "down": true})", 400},
      {"POST", "/api/key", R"({"scan": "4", "down": true})", 400},
      {"POST", "/api/key", R"({"scan": 4, "down": 1})", 400},
      {"POST", "/api/key", R"({"scan": 4})", 400},
      {"POST", "/api/key", R"({"scan": 4, "down": true, "shift": true})", 400},
      {"POST", "/api/key", R"({"scan": 4, "down": tr)", 400},
      {"POST", "/api/key", R"([4, true])", 400},
      {"POST", "/api/key", "", 400},
      {"POST", "/api/line", R"({})", 400},
      {"POST", "/api/line", R"({"cradle": "yes"})", 400},
      {"POST", "/api/line", R"({"cradle": true, "kettle": true})", 400},
      {"POST", "/api/line", R"({"resume": false})", 400},
      {"POST", "/api/stylus", R"({"action": "down", "x": 240, "y": 0})", 400},
      {"POST", "/api/stylus", R"({"action": "down", "x": 0, "y": 320})", 400},
      {"POST", "/api/stylus", R"({"action": "press", "x": 0, "y": 0})", 400},
      {"POST", "/api/menu", R"({"owner": "0x1", "command": 40010})", 400},
      {"POST", "/api/menu", R"({"owner": "0xzz", "command": 40010})", 400},
      {"POST", "/api/tray", R"({"hwnd": "0x1", "id": 1})", 400},
      {"POST", "/api/box", R"({"id": 1, "answer": 6})", 409},
      {"POST", "/api/box", R"({"id": 1, "answer": 99})", 400},
      {"POST", "/api/foreground", R"({"hwnd": 5})", 400},
      {"POST", "/api/done", R"({"hwnd": "0x0"})", 400},
      {"POST", "/api/dance", R"({})", 400},
      {"GET", "/api/nothing", "", 404},
      {"GET", "/api/pixels", "", 400},
      {"GET", "/api/icon", "", 404},
      {"DELETE", "/api/key", "", 405},
  };
  std::string state = web::StateJson();
  bench::ClearTrace();
  for (const Case& c : cases) {
    web::Reply r = web::Handle(PageRequest(c.method, c.path, c.body, c.method == std::string("GET") ? "hwnd=0x1" : ""));
    EXPECT_EQ(r.status, c.status) << c.method << " " << c.path << " " << c.body;
    EXPECT_NE(r.body.find("\"error\""), std::string::npos) << c.path << " " << c.body;
  }
  EXPECT_EQ(web::StateJson(), state);
  EXPECT_TRUE(bench::Trace().empty()) << bench::Trace().front();
  EXPECT_TRUE(Arrived().empty());
  EXPECT_FALSE(Carrier());
}

TEST_F(WebApi, TheTraceKeepsItsLastLinesAndSaysHowManyWentBefore) {
  for (int i = 0; i < 2005; ++i) web::AppendTrace("line " + std::to_string(i));
  uint64_t next = 0;
  std::string all = web::TraceJson(0, &next);
  EXPECT_NE(all.find("\"from\":5,"), std::string::npos) << all.substr(0, 60);
  EXPECT_NE(all.find("\"line 5\""), std::string::npos);
  EXPECT_EQ(all.find("\"line 4\""), std::string::npos);
  std::string rest = web::TraceJson(next - 1, &next);
  EXPECT_NE(rest.find("[\"line 2004\"]"), std::string::npos) << rest;
  EXPECT_NE(web::TraceJson(next + 100, &next).find("\"lines\":[]"), std::string::npos);
}

// Another site's page may send requests to the handheld, and through DNS rebinding read
// its answers: only the address listened on is served, and only JSON from the handheld's
// own page may change anything.
TEST_F(WebApi, RequestsFromElsewhereAreRefusedAndChangeNothing) {
  struct Case {
    const char* method;
    const char* path;
    const char* host;
    const char* origin;
    const char* type;
    int status;
  } cases[] = {
      // The page's own requests.
      {"POST", "/api/key", kSelf, kOrigin, "application/json", 200},
      {"POST", "/api/key", kSelf, kOrigin, "application/json; charset=utf-8", 200},
      {"POST", "/api/key", kSelf, kOrigin, "Application/JSON", 200},
      {"GET", "/api/registry", kSelf, "", "", 200},
      {"GET", "/api/state", kSelf, "http://evil.example", "", 200},  // reading is no change
      // A form or no-cors fetch of another site: a simple content type, another origin.
      {"POST", "/api/key", kSelf, "http://evil.example", "text/plain", 403},
      {"POST", "/api/key", kSelf, "http://evil.example", "application/json", 403},
      {"POST", "/api/key", kSelf, kOrigin, "text/plain", 403},
      {"POST", "/api/key", kSelf, kOrigin, "application/x-www-form-urlencoded", 403},
      {"POST", "/api/key", kSelf, kOrigin, "multipart/form-data; boundary=x", 403},
      {"POST", "/api/key", kSelf, kOrigin, "", 403},
      {"POST", "/api/key", kSelf, "", "application/json", 403},
      {"POST", "/api/key", kSelf, "null", "application/json", 403},
      {"POST", "/api/key", kSelf, "http://127.0.0.1:8241", "application/json", 403},
      {"POST", "/api/key", kSelf, "https://127.0.0.1:8240", "application/json", 403},
      {"POST", "/api/key", kSelf, "http://localhost:8240", "application/json", 403},
      {"POST", "/api/line", kSelf, "http://evil.example", "text/plain", 403},
      {"PUT", "/api/key", kSelf, "http://evil.example", "text/plain", 403},
      {"OPTIONS", "/api/key", kSelf, "http://evil.example", "", 403},
      // DNS rebinding: the right address under another name, or another port.
      {"GET", "/api/registry", "evil.example:8240", "", "", 403},
      {"GET", "/api/state", "evil.example", "", "", 403},
      {"GET", "/api/registry", "localhost:8240", "", "", 403},
      {"GET", "/api/registry", "127.0.0.1", "", "", 403},
      {"GET", "/api/registry", "127.0.0.1:8241", "", "", 403},
      {"GET", "/api/registry", "127.0.0.1:8240.evil.example", "", "", 403},
      {"GET", "/api/registry", "", "", "", 403},
      {"POST", "/api/key", "evil.example:8240", kOrigin, "application/json", 403},
  };
  std::string state = web::StateJson();
  for (const Case& c : cases) {
    bench::ClearTrace();
    web::Request r;
    r.method = c.method;
    r.path = c.path;
    r.host = c.host;
    r.origin = c.origin;
    r.contentType = c.type;
    r.body = r.method == "GET" ? "" : R"({"scan": 4, "down": true})";
    std::string what = std::string(c.method) + " " + c.path + " Host " + c.host + " Origin " + c.origin + " " + c.type;
    web::Reply refusal;
    EXPECT_EQ(web::Refused(r, &refusal), c.status == 403) << what;
    web::Reply reply = web::Handle(r);
    EXPECT_EQ(reply.status, c.status) << what;
    if (c.status != 403) {
      std::vector<unsigned char> sent;
      if (r.method != "GET") sent = {0x04};
      EXPECT_EQ(Arrived(), sent) << what;
      continue;
    }
    EXPECT_EQ(refusal.body, reply.body) << what;
    EXPECT_NE(reply.body.find("\"error\""), std::string::npos) << what;
    EXPECT_TRUE(Arrived().empty()) << what;
    EXPECT_TRUE(bench::Trace().empty()) << what << ": " << bench::Trace().front();
    EXPECT_EQ(web::StateJson(), state) << what;
  }
}

// The page draws the line from the state it is sent: a change of it must wake the pages'
// feeds, which wait on the count of changes.
TEST_F(WebApi, EveryChangeOfTheLineIsCountedAsAChange) {
  const char* bodies[] = {R"({"plugged": false})", R"({"plugged": true})", R"({"busy": true})",
                          R"({"busy": false})",    R"({"cradle": true})",  R"({"resume": true})",
                          R"({"cradle": false})"};
  for (const char* body : bodies) {
    uint64_t before = bench::ScreenChanges();
    ASSERT_EQ(Post("/api/line", body).status, 200) << body;
    EXPECT_NE(bench::ScreenChanges(), before) << body;
  }
  EXPECT_EQ(State()["line"], nlohmann::json::parse(R"({"tty":"","plugged":true,"cradle":false,"busy":false})"));
}

TEST_F(WebApi, KeysAPageHoldsAreLiftedWhenItCloses) {
  int a = web::OpenPage(), b = web::OpenPage();
  EXPECT_EQ(State()["pages"], 2);
  auto key = [](int page, int scan, bool down) {
    return Post("/api/key", R"({"scan": )" + std::to_string(scan) + R"(, "down": )" + (down ? "true" : "false") +
                                R"(, "page": )" + std::to_string(page) + "}");
  };
  ASSERT_EQ(key(a, 0x77, true).status, 200);  // Fn
  ASSERT_EQ(key(a, 0x04, true).status, 200);
  ASSERT_EQ(key(a, 0x04, false).status, 200);
  ASSERT_EQ(key(a, 0x74, true).status, 200);  // Shift, also held on the other page
  ASSERT_EQ(key(b, 0x74, true).status, 200);
  ASSERT_EQ(Arrived(), (std::vector<unsigned char>{0x77, 0x04, 0x84, 0x74, 0x74}));
  web::ClosePage(a);
  EXPECT_EQ(Arrived(), std::vector<unsigned char>{0xF7});  // Fn up; Shift stays for b
  EXPECT_EQ(State()["pages"], 1);
  EXPECT_EQ(key(a, 0x05, true).status, 409);  // a closed page types nothing
  EXPECT_TRUE(Arrived().empty());
  web::ClosePage(b);
  EXPECT_EQ(Arrived(), std::vector<unsigned char>{0xF4});
  web::ClosePage(b);
  EXPECT_TRUE(Arrived().empty());
  EXPECT_EQ(State()["pages"], 0);
  // A key pressed while the keyboard was unplugged never reached the line: nothing to lift.
  int c = web::OpenPage();
  ASSERT_EQ(Post("/api/line", R"({"plugged": false})").status, 200);
  ASSERT_EQ(key(c, 0x06, true).status, 200);
  ASSERT_EQ(Post("/api/line", R"({"plugged": true})").status, 200);
  web::ClosePage(c);
  EXPECT_TRUE(Arrived().empty());
}

TEST_F(WebApi, AfterTheProgramEndsAKeyIsRefusedAndSaysSo) {
  web::NoteProgramEnded(0);
  web::Reply r = Post("/api/key", R"({"scan": 4, "down": true})");
  EXPECT_EQ(r.status, 409);
  EXPECT_NE(r.body.find("ended"), std::string::npos) << r.body;
  EXPECT_TRUE(Arrived().empty());
  EXPECT_EQ(State()["program"]["ended"], true);
}

TEST_F(WebApi, TheStateNamesTheRegistryFile) {
  web::Configure(web::Setup{"", "FRA", "/tmp/some-registry.reg", ""});
  EXPECT_EQ(State()["program"]["registry"], "/tmp/some-registry.reg");
  EXPECT_EQ(State()["program"]["language"], "FRA");
}

TEST_F(WebApi, LatchesAndCapsLockAreInTheState) {
  auto keyboard = [] { return State()["keyboard"]; };
  EXPECT_EQ(keyboard(), nlohmann::json::parse(R"({"shiftLatched":false,"fnLatched":false,"capsLock":false})"));
  StickyShiftLatched = 1;
  EXPECT_EQ(keyboard()["shiftLatched"], true);
  StickyFnLatched = 1;
  EXPECT_EQ(keyboard()["fnLatched"], true);
  StickyShiftLatched = 0;
  StickyFnLatched = 0;
  bench::PressCapsLock();
  EXPECT_EQ(keyboard()["capsLock"], true);
  bench::PressCapsLock();
  EXPECT_EQ(keyboard()["capsLock"], false);
}

// A help folder of the test's own, with the names a request might try, and pages beside
// it and under it that are not to be served.
class WebHelp : public WebApi {
 protected:
  void SetUp() override {
    WebApi::SetUp();
    char dir[] = "/tmp/brindle-help-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    dir_ = dir;
    ASSERT_EQ(system(("mkdir -p " + dir_ + "/help/sub").c_str()), 0);
    std::ofstream(dir_ + "/help/tavlo.htc") << "<HTML><A NAME=\"extkbd_help\"></A>\xE9t\xE9</HTML>";
    std::ofstream(dir_ + "/help/.hidden.htc") << "no";
    std::ofstream(dir_ + "/help/notes.txt") << "no";
    std::ofstream(dir_ + "/help/sub/inner.htc") << "no";
    std::ofstream(dir_ + "/secret.htc") << "no";
    web::Configure(web::Setup{"", "FRA", "", dir_ + "/help"});
  }
  void TearDown() override {
    std::system(("rm -rf " + dir_).c_str());
    WebApi::TearDown();
  }
  std::string dir_;
};

TEST_F(WebHelp, TheHelpFolderIsServedAndNothingBesideIt) {
  web::Reply page = web::Handle(PageRequest("GET", "/help/tavlo.htc", ""));
  EXPECT_EQ(page.status, 200);
  EXPECT_EQ(page.type, "text/html; charset=windows-1252");
  EXPECT_EQ(page.body, "<HTML><A NAME=\"extkbd_help\"></A>\xE9t\xE9</HTML>");
  // The server hands the path on decoded: "/help/../secret.htc" is what "..%2F" becomes.
  for (const char* path : {"/help/", "/help/missing.htc", "/help/.hidden.htc", "/help/notes.txt", "/help/../secret.htc",
                           "/help/sub/inner.htc", "/help/sub/../tavlo.htc", "/help//etc/passwd", "/help/tavlo.htc/"}) {
    web::Reply r = web::Handle(PageRequest("GET", path, ""));
    EXPECT_EQ(r.status, 404) << path;
    EXPECT_NE(r.body.find("\"error\""), std::string::npos) << path;
  }
  web::Configure(web::Setup{"", "FRA", "", ""});
  EXPECT_EQ(web::Handle(PageRequest("GET", "/help/tavlo.htc", "")).status, 404);
}

DWORD WINAPI StartHelp(LPVOID) {
  WCHAR topic[] = L"tavlo.htc#extkbd_help";
  CreateProcessW(L"PegHelp.exe", topic, nullptr, nullptr, FALSE, 0, nullptr, nullptr, nullptr, nullptr);
  return 0;
}

TEST_F(WebHelp, TheHelpViewerOpensAtTheTopicAndThePersonClosesIt) {
  EXPECT_EQ(State()["help"]["open"], false);
  EXPECT_EQ(Post("/api/help", R"({"open": false})").status, 409);
  HANDLE t = CreateThread(nullptr, 0, StartHelp, nullptr, 0, nullptr);
  bench::Settle();
  CloseHandle(t);
  nlohmann::json help = State()["help"];
  EXPECT_EQ(help["open"], true);
  EXPECT_EQ(help["url"], "/help/tavlo.htc#extkbd_help");
  EXPECT_EQ(help["pages"], true);
  for (const char* bad : {R"({"open": true})", R"({"open": 0})", R"({})", R"({"open": false, "x": 1})"})
    EXPECT_EQ(Post("/api/help", bad).status, 400) << bad;
  uint64_t before = bench::ScreenChanges();
  EXPECT_EQ(Post("/api/help", R"({"open": false})").status, 200);
  EXPECT_NE(bench::ScreenChanges(), before);
  EXPECT_EQ(State()["help"]["open"], false);
  // Another program started is not the help viewer.
  bench::ClearTrace();
  WCHAR args[] = L"x";
  CreateProcessW(L"repllog.exe", args, nullptr, nullptr, FALSE, 0, nullptr, nullptr, nullptr, nullptr);
  EXPECT_EQ(State()["help"]["open"], false);
}

struct BoxCall {
  UINT type;
  int answer = 0;
};

DWORD WINAPI AskInABox(LPVOID p) {
  BoxCall* call = static_cast<BoxCall*>(p);
  call->answer = MessageBoxW(nullptr, L"Exit?", L"Keyboard", call->type);
  return 0;
}

// The handheld words its boxes' buttons in its own language; the answers stay the same.
TEST_F(WebApi, MessageBoxButtonsSpeakTheHandheldsLanguage) {
  struct Case {
    const char* language;
    UINT type;
    std::vector<std::string> words;
  } cases[] = {
      {"USA", MB_YESNO, {"Yes", "No"}},          {"FRA", MB_YESNO, {"Oui", "Non"}},
      {"GER", MB_YESNO, {"Ja", "Nein"}},         {"ESP", MB_YESNO, {"Sí", "No"}},
      {"PTB", MB_YESNO, {"Sim", "Não"}},         {"ITA", MB_YESNO, {"Sì", "No"}},
      {"USA", MB_OKCANCEL, {"OK", "Cancel"}},    {"FRA", MB_OKCANCEL, {"OK", "Annuler"}},
      {"GER", MB_OKCANCEL, {"OK", "Abbrechen"}}, {"ESP", MB_OKCANCEL, {"Aceptar", "Cancelar"}},
      {"PTB", MB_OKCANCEL, {"OK", "Cancelar"}},  {"ITA", MB_OKCANCEL, {"OK", "Annulla"}},
      {"GER", MB_OK, {"OK"}},
  };
  bench::HoldMessageBoxes(true);
  for (const Case& c : cases) {
    ASSERT_TRUE(bench::SetDeviceLanguage(c.language)) << c.language;
    BoxCall call{c.type};
    HANDLE t = CreateThread(nullptr, 0, AskInABox, &call, 0, nullptr);
    bench::Settle();
    nlohmann::json boxes = State()["boxes"];
    ASSERT_EQ(boxes.size(), 1u) << c.language;
    EXPECT_EQ(boxes[0]["words"].get<std::vector<std::string>>(), c.words) << c.language;
    int last = boxes[0]["buttons"].back();
    EXPECT_EQ(Post("/api/box", R"({"id": )" + std::to_string(boxes[0]["id"].get<int>()) + R"(, "answer": )" +
                                   std::to_string(last) + "}")
                  .status,
              200);
    bench::Settle();
    EXPECT_EQ(call.answer, last) << c.language;
    WaitForSingleObject(t, INFINITE);
    CloseHandle(t);
  }
  EXPECT_FALSE(bench::SetDeviceLanguage("XYZ"));
  EXPECT_FALSE(bench::SetDeviceLanguage(""));
  ASSERT_TRUE(bench::Reset());  // a fresh handheld speaks English again
  bench::HoldMessageBoxes(true);
  BoxCall call{MB_YESNO};
  HANDLE t = CreateThread(nullptr, 0, AskInABox, &call, 0, nullptr);
  bench::Settle();
  ASSERT_EQ(bench::OpenMessageBoxes().size(), 1u);
  EXPECT_EQ(bench::OpenMessageBoxes()[0].words, (std::vector<std::string>{"Yes", "No"}));
  bench::HoldMessageBoxes(false);
  bench::Settle();
  WaitForSingleObject(t, INFINITE);
  CloseHandle(t);
}

}  // namespace
