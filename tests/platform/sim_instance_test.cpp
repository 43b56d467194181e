// Single instance across processes: a second process finds the first one's shared
// top-level window with FindWindowW and its PostMessageW arrives in the first one's
// queue. The other process is sim_instance_helper, beside this program.
#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/sim/bench.h"
#include "platform/sim/instance.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

std::string HelperPath() {
  return (fs::read_symlink("/proc/self/exe").parent_path() / "sim_instance_helper").string();
}

// A helper process with its standard output on a pipe.
struct Helper {
  pid_t pid = -1;
  int out = -1;
  std::string pending;

  explicit Helper(const std::vector<std::string>& args) {
    int fds[2];
    if (pipe(fds) != 0) return;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, fds[1], 1);
    posix_spawn_file_actions_addclose(&fa, fds[0]);
    std::string path = HelperPath();
    std::vector<char*> argv{const_cast<char*>(path.c_str())};
    for (auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    if (posix_spawn(&pid, path.c_str(), &fa, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&fa);
    close(fds[1]);
    out = fds[0];
  }
  ~Helper() {
    if (pid > 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    if (out >= 0) close(out);
  }
  // The next line it prints; "" once it has closed its output. A guard of 30 s of
  // real time keeps a broken handshake from hanging the test.
  std::string Line() {
    for (;;) {
      size_t nl = pending.find('\n');
      if (nl != std::string::npos) {
        std::string line = pending.substr(0, nl);
        pending.erase(0, nl + 1);
        return line;
      }
      pollfd p{out, POLLIN, 0};
      if (poll(&p, 1, 30000) <= 0) return "(no answer in 30 s)";
      char buf[256];
      ssize_t n = read(out, buf, sizeof buf);
      if (n <= 0) return "";
      pending.append(buf, (size_t)n);
    }
  }
  int Wait() {
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return -1;
    pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
};

int RunFind(const std::string& cls, const std::string& title, const std::string& wp) {
  Helper h({"find", cls, title, wp});
  return h.Wait();
}

std::vector<std::string> Sockets(const std::string& dir) {
  std::vector<std::string> out;
  std::error_code ec;
  for (auto& e : fs::directory_iterator(dir, ec)) out.push_back(e.path().filename().string());
  return out;
}

LRESULT CALLBACK Plain(HWND h, UINT m, WPARAM wp, LPARAM lp) { return DefWindowProcW(h, m, wp, lp); }

class SimInstance : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(bench::Reset());
    char tmpl[] = "/tmp/brindle-inst-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    runtime = tmpl;
    folder = runtime + "/brindle";
    const char* old = getenv("XDG_RUNTIME_DIR");
    hadOld = old != nullptr;
    if (old) oldRuntime = old;
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    WNDCLASSW wc = {};
    wc.lpfnWndProc = Plain;
    wc.lpszClassName = L"BrindleTestWnd";
    RegisterClassW(&wc);
  }
  void TearDown() override {
    bench::Reset();
    if (hadOld) setenv("XDG_RUNTIME_DIR", oldRuntime.c_str(), 1);
    else unsetenv("XDG_RUNTIME_DIR");
    std::error_code ec;
    fs::remove_all(runtime, ec);
  }
  static HWND Make(const wchar_t* title) {
    return CreateWindowExW(0, L"BrindleTestWnd", title, 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  }
  std::string runtime, folder, oldRuntime;
  bool hadOld = false;
};

TEST_F(SimInstance, ASecondProcessFindsTheFirstAndItsCommandArrives) {
  Helper first({"serve", "BrindleMain", "Brindle"});
  ASSERT_EQ(first.Line(), "ready");
  sim::ShareWindowsAcrossProcesses(true);

  // Class letter case does not matter; the title's does.
  EXPECT_EQ(FindWindowW(L"BrindleMain", L"brindle"), nullptr);
  EXPECT_EQ(FindWindowW(L"BrindleMain", L"Bri"), nullptr);
  EXPECT_EQ(FindWindowW(L"OtherClass", L"Brindle"), nullptr);
  HWND found = FindWindowW(L"brindlemain", L"Brindle");
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(FindWindowW(L"BrindleMain", nullptr), found);
  EXPECT_EQ(FindWindowW(nullptr, L"Brindle"), found);

  EXPECT_TRUE(PostMessageW(found, WM_COMMAND, 1011, 0));
  EXPECT_EQ(first.Line(), "command 1011 0");
  EXPECT_TRUE(PostMessageW(found, WM_COMMAND, 7, -5));
  EXPECT_EQ(first.Line(), "command 7 -5");

  // Gone with its window: nothing left in the folder, and the handle no longer posts.
  EXPECT_TRUE(PostMessageW(found, WM_COMMAND, 9, 0));
  EXPECT_EQ(first.Line(), "command 9 0");
  EXPECT_EQ(first.Wait(), 0);
  EXPECT_EQ(Sockets(folder), std::vector<std::string>{});
  SetLastError(0);
  EXPECT_FALSE(PostMessageW(found, WM_COMMAND, 1011, 0));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_WINDOW_HANDLE);
  EXPECT_EQ(FindWindowW(L"BrindleMain", L"Brindle"), nullptr);
}

TEST_F(SimInstance, ThisProcessIsTheFirstAndTheCommandReachesItsQueue) {
  sim::ShareWindowsAcrossProcesses(true);
  HWND main = Make(L"Brindle");
  ASSERT_NE(main, nullptr);
  struct stat st;
  ASSERT_EQ(stat(folder.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_EQ(Sockets(folder).size(), 1u);

  EXPECT_EQ(RunFind("BRINDLETESTWND", "Brindle", "1011"), 0);
  MSG m;
  ASSERT_EQ(GetMessageW(&m, nullptr, 0, 0), TRUE);
  EXPECT_EQ(m.hwnd, main);
  EXPECT_EQ(m.message, (UINT)WM_COMMAND);
  EXPECT_EQ(m.wParam, 1011u);
  EXPECT_EQ(m.lParam, 0);

  // A new title is published in place of the old one.
  ASSERT_TRUE(SetWindowTextW(main, L"Renamed"));
  EXPECT_EQ(RunFind("BrindleTestWnd", "Brindle", "1"), 1);
  EXPECT_EQ(RunFind("-", "Renamed", "2"), 0);
  ASSERT_EQ(GetMessageW(&m, nullptr, 0, 0), TRUE);
  EXPECT_EQ(m.hwnd, main);
  EXPECT_EQ(m.wParam, 2u);
  EXPECT_EQ(Sockets(folder).size(), 1u);

  // Children are not published; a destroyed window is withdrawn.
  HWND child = CreateWindowExW(0, L"BrindleTestWnd", L"Child", WS_CHILD, 0, 0, 1, 1, main, nullptr, nullptr,
                               nullptr);
  ASSERT_NE(child, nullptr);
  EXPECT_EQ(RunFind("-", "Child", "3"), 1);
  ASSERT_TRUE(DestroyWindow(main));
  EXPECT_EQ(Sockets(folder), std::vector<std::string>{});
  EXPECT_EQ(RunFind("BrindleTestWnd", "-", "4"), 1);
  EXPECT_EQ(PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE), FALSE) << "nothing else arrived";
}

TEST_F(SimInstance, AStaleSocketOfAKilledProcessIsIgnoredAndRemoved) {
  {
    Helper killed({"serve", "BrindleMain", "Brindle"});
    ASSERT_EQ(killed.Line(), "ready");
    kill(killed.pid, SIGKILL);
    EXPECT_EQ(killed.Wait(), 128 + SIGKILL);
  }
  ASSERT_EQ(Sockets(folder).size(), 1u) << "a killed process cannot withdraw its window";
  sim::ShareWindowsAcrossProcesses(true);
  EXPECT_EQ(FindWindowW(L"BrindleMain", L"Brindle"), nullptr);
  EXPECT_EQ(Sockets(folder), std::vector<std::string>{});

  // A live one beside a stale one is still found.
  Helper dead({"serve", "BrindleMain", "Brindle"});
  ASSERT_EQ(dead.Line(), "ready");
  kill(dead.pid, SIGKILL);
  dead.Wait();
  Helper live({"serve", "BrindleMain", "Brindle"});
  ASSERT_EQ(live.Line(), "ready");
  HWND found = FindWindowW(L"BrindleMain", L"Brindle");
  ASSERT_NE(found, nullptr);
  EXPECT_TRUE(PostMessageW(found, WM_COMMAND, 1011, 0));
  EXPECT_EQ(live.Line(), "command 1011 0");
}

TEST_F(SimInstance, UnsharedRunsNeverTouchTheFolder) {
  HWND w = Make(L"Brindle");
  ASSERT_NE(w, nullptr);
  ASSERT_TRUE(SetWindowTextW(w, L"Other"));
  EXPECT_EQ(FindWindowW(L"NoSuchClass", nullptr), nullptr);
  ASSERT_TRUE(DestroyWindow(w));
  EXPECT_FALSE(fs::exists(folder));

  // A process that does not share is not found by one that does.
  Helper unshared({"serve-unshared", "BrindleMain", "Brindle"});
  ASSERT_EQ(unshared.Line(), "ready");
  EXPECT_FALSE(fs::exists(folder));
  EXPECT_EQ(RunFind("BrindleMain", "Brindle", "1011"), 1);
}

TEST_F(SimInstance, ResetWithdrawsAndSwitchesSharingOff) {
  sim::ShareWindowsAcrossProcesses(true);
  ASSERT_NE(Make(L"Brindle"), nullptr);
  EXPECT_EQ(Sockets(folder).size(), 1u);
  ASSERT_TRUE(bench::Reset());
  EXPECT_EQ(Sockets(folder), std::vector<std::string>{});
  WNDCLASSW wc = {};
  wc.lpfnWndProc = Plain;
  wc.lpszClassName = L"BrindleTestWnd";
  RegisterClassW(&wc);
  ASSERT_NE(Make(L"Brindle"), nullptr);
  EXPECT_EQ(Sockets(folder), std::vector<std::string>{});
}

}  // namespace
