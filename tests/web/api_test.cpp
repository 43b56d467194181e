// The browser view's requests without a browser: what each does to the handheld, and
// that a bad one is refused and changes nothing.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/sim/bench.h"
#include "platform/sim/bench_comm.h"
#include "hosts/web/api.h"

namespace {

class WebApi : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(bench::Reset());
    web::Configure(web::Setup{"", "USA", ""});
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
    return web::Handle("POST", path, "", body);
  }
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
  web::Configure(web::Setup{"/dev/ttyS0", "USA", ""});
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
    web::Reply r = web::Handle(c.method, c.path, c.method == std::string("GET") ? "hwnd=0x1" : "", c.body);
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

}  // namespace
