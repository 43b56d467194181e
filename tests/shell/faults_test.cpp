// The whole program when the handheld lets it down: a thread it cannot start, a
// registry it cannot save, a hot key someone else holds, a damaged resource library.
// Each fault has one defined outcome, and after the program ends nothing of it is left:
// no thread, handle, GDI object, window DC, window, key held down or timer.
#include <limits.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/sim/bench.h"
#include "platform/sim/bench_comm.h"
#include "platform/sim/bench_gdi.h"
#include "platform/sim/bench_modules.h"
#include "platform/sim/bench_registry.h"
#include "platform/sim/bench_shell.h"
#include "platform/sim/bench_ui.h"
#include "platform/sim/bench_user.h"
#include "platform/sim/res_internal.h"
#include "program_fixture.h"
#include "shell/dialogs.h"
#include "shell/driver.h"
#include "shell/resids.h"
#include "shell/state.h"

namespace programtest {
namespace {

const unsigned char kFn = 0x77, kTab = 0x2B, kA = 0x04;
const char kKey[] = "SOFTWARE\\Corvane\\Tavlo";

std::string ExeDir() {
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return ".";
  std::string p(buf, static_cast<size_t>(n));
  return p.substr(0, p.rfind('/'));
}

std::vector<char> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<char>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteAll(const std::string& path, const std::vector<char>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

bool PickerShown() {
  WCHAR cls[RES_STRING_MAX] = {0};
  WCHAR title[RES_STRING_MAX] = {0};
  LoadStringW(hResDll, IDS_PICKER_CLASS, cls, RES_STRING_MAX);
  LoadStringW(hResDll, IDS_PICKER_TITLE, title, RES_STRING_MAX);
  HWND picker = FindWindowW(cls, title);
  return picker != nullptr && IsWindowVisible(picker);
}

void FnTab() {
  bench::SendKeyBytes({kFn, kTab, static_cast<unsigned char>(kTab | 0x80), static_cast<unsigned char>(kFn | 0x80)});
  bench::Settle();
}

class Faults : public ProgramTest {
 protected:
  // What a program that has ended may leave: only what it keeps for the life of its
  // process, which the handheld frees when the process ends (once started, the touch
  // event, the reader's exit event and the dialog font; nothing when it stopped before
  // its window). Time moving on afterwards must not wake anything either (a timer or a
  // retry left armed would).
  void ExpectNothingLeftBehind(bool started = true) {
    EXPECT_FALSE(Running());
    EXPECT_EQ(bench::LiveThreads(), 0);
    EXPECT_EQ(bench::OpenHandles(), started ? 2 : 0);
    EXPECT_EQ(bench::LiveGdiObjects(), started ? 1 : 0);
    EXPECT_EQ(bench::OpenWindowDCs(), 0);
    EXPECT_TRUE(bench::TopLevelWindows().empty());
    EXPECT_EQ(bench::PortOpenCount(), 0);
    EXPECT_EQ(bench::TrayIconCount(), 0);
    EXPECT_EQ(bench::OpenRegistryKeys(), 0);
    for (int vk = 0; vk < 256; ++vk) EXPECT_EQ(GetAsyncKeyState(vk) & 0x8000, 0) << "key " << vk << " held down";
    bench::ClearTrace();
    bench::Advance(60000);
    EXPECT_EQ(bench::Trace(), Lines{}) << "something still ran after the program ended";
  }

  void ExitAndCheck() {
    ExitWithAnswer(IDYES);
    EXPECT_EQ(WaitForExit(), 0u);
    ExpectNothingLeftBehind();
  }
};

// ---- threads ------------------------------------------------------------------------

TEST_F(Faults, ARefusedReaderThreadPausesTheDriverAndRetries) {
  Launch();
  ASSERT_EQ(DriverState, DRIVER_RUNNING);
  bench::TapControl(hSettingsDlg, IDC_START_STOP);
  bench::Settle();
  ASSERT_EQ(DriverState, DRIVER_STOPPED);
  const int threads = bench::LiveThreads();
  bench::FailNextCreateThread(1);
  bench::TapControl(hSettingsDlg, IDC_START_STOP);
  bench::Settle();
  EXPECT_EQ(DriverState, DRIVER_PAUSED) << "as for a port that cannot be had: paused, retried";
  EXPECT_EQ(bench::LiveThreads(), threads);
  EXPECT_EQ(bench::PortOpenCount(), 0) << "the port is given back when its reader cannot start";
  bench::Advance(2000);
  EXPECT_EQ(DriverState, DRIVER_RUNNING);
  EXPECT_EQ(bench::LiveThreads(), threads + 1);
  bench::ClearTrace();
  bench::SendKeyBytes({kA, static_cast<unsigned char>(kA | 0x80)});
  bench::Settle();
  EXPECT_EQ(bench::Trace({"keybd_event(0x41"}), (Lines{"keybd_event(0x41, 0x0)", "keybd_event(0x41, 0x2)"}));
  ExitAndCheck();
}

TEST_F(Faults, ARefusedPickerThreadLeavesNoPickerAndTheNextFnTabOpensIt) {
  Launch();
  const int threads = bench::LiveThreads();
  bench::FailNextCreateThread(1);
  FnTab();
  EXPECT_FALSE(PickerShown());
  EXPECT_EQ(bench::LiveThreads(), threads);
  EXPECT_EQ(PickerOpen, 0u) << "a picker that never started is not open";
  // Typing goes on, and the very next Fn+Tab opens the picker.
  bench::ClearTrace();
  bench::SendKeyBytes({kA, static_cast<unsigned char>(kA | 0x80)});
  bench::Settle();
  EXPECT_EQ(bench::Trace({"keybd_event(0x41"}).size(), 2u);
  FnTab();
  EXPECT_TRUE(PickerShown());
  FnTab();
  EXPECT_FALSE(PickerShown());
  EXPECT_EQ(bench::LiveThreads(), threads);
  ExitAndCheck();
}

// ---- the registry ---------------------------------------------------------------------

TEST_F(Faults, AnUnwritableRegistryFileKeepsSettingsInMemoryAndWarnsOnce) {
  char dirName[] = "/tmp/brindle-faults-XXXXXX";
  ASSERT_NE(mkdtemp(dirName), nullptr);
  const std::string dir = dirName;
  const std::string file = dir + "/registry.reg";
  WriteAll(file, {'R', 'E', 'G', 'E', 'D', 'I', 'T', '4', '\n'});
  std::string error;
  ASSERT_TRUE(bench::UseRegistryFile(file, &error)) << error;
  // The folder goes away under the running program: no save can succeed any more.
  ASSERT_EQ(unlink(file.c_str()), 0);
  ASSERT_EQ(rmdir(dir.c_str()), 0);
  testing::internal::CaptureStderr();
  Launch();
  ASSERT_TRUE(Running());
  EXPECT_EQ(DriverState, DRIVER_RUNNING);
  EXPECT_EQ(bench::RegGetDword(HKEY_CURRENT_USER, kKey, "RepeatRate"), 20u) << "the defaults, in memory";
  ASSERT_NE(bench::ToggleCheckBox(hSettingsDlg, IDC_STICKY_SHIFT), nullptr);
  bench::Settle();
  ASSERT_NE(bench::ToggleCheckBox(hSettingsDlg, IDC_STICKY_FN), nullptr);
  bench::Settle();
  EXPECT_EQ(PrefShift, 1u);
  EXPECT_EQ(PrefFn, 1u);
  EXPECT_EQ(bench::RegGetDword(HKEY_CURRENT_USER, kKey, "PrefShift"), 1u);
  EXPECT_EQ(bench::RegGetDword(HKEY_CURRENT_USER, kKey, "PrefFn"), 1u);
  EXPECT_NE(bench::RegistryFileError(), "");
  EXPECT_TRUE(bench::MessageBoxes().empty()) << "the user is not bothered on the handheld";
  ExitWithAnswer(IDYES);
  EXPECT_EQ(WaitForExit(), 0u);
  std::string err = testing::internal::GetCapturedStderr();
  size_t warnings = 0;
  for (size_t p = err.find("registry not saved"); p != std::string::npos; p = err.find("registry not saved", p + 1))
    ++warnings;
  EXPECT_EQ(warnings, 1u) << err;
  EXPECT_NE(err.find(dir), std::string::npos) << "the warning names where: " << err;
  struct stat st;
  EXPECT_NE(stat(dir.c_str(), &st), 0) << "nothing was made in its place";
  ExpectNothingLeftBehind();
}

// A registry file that is not REGEDIT4 stops the program before it starts, names the
// file and line, and is left exactly as it was.
TEST(FaultsEntry, AnUnreadableRegistryFileStopsTheProgramAndIsLeftUntouched) {
  const std::string brindle = ExeDir() + "/brindle";
  ASSERT_EQ(access(brindle.c_str(), X_OK), 0) << "brindle beside the test program";
  char dirName[] = "/tmp/brindle-faults-XXXXXX";
  ASSERT_NE(mkdtemp(dirName), nullptr);
  const std::string dir = dirName;
  struct Row {
    const char* what;
    std::string text;
    int line;
  };
  const Row rows[] = {
      {"another format", "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\A]\r\n", 1},
      {"a bad value on line 4", "REGEDIT4\n\n[HKEY_CURRENT_USER\\A]\n\"x\"=dword:123456789\n", 4},
      {"cut inside a string", "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"Prefs\"=\"half", 3},
      {"binary", std::string("REGEDIT4\n\x00\xff\x01", 12), 2},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const std::string file = dir + "/registry.reg";
    WriteAll(file, std::vector<char>(row.text.begin(), row.text.end()));
    struct stat before;
    ASSERT_EQ(stat(file.c_str(), &before), 0);
    const std::string out = dir + "/stderr";
    const std::string command = "'" + brindle + "' --registry '" + file + "' </dev/null >/dev/null 2>'" + out + "'";
    // The program must stop at once; a start would hang on its message loop, so a
    // time-out stands guard.
    int status = std::system(("timeout 20 " + command).c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 2);
    std::vector<char> said = ReadAll(out);
    const std::string text(said.begin(), said.end());
    EXPECT_NE(text.find("brindle: the registry cannot be read: " + file + ":" + std::to_string(row.line) + ": "),
              std::string::npos)
        << text;
    std::vector<char> after = ReadAll(file);
    EXPECT_EQ(std::string(after.begin(), after.end()), row.text) << "the file is left as it was";
    struct stat st;
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, before.st_mtim.tv_sec);
    EXPECT_EQ(st.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    std::remove(out.c_str());
    std::remove(file.c_str());
  }
  EXPECT_EQ(rmdir(dir.c_str()), 0) << "nothing else was made beside the file";
}

// ---- the hot key ------------------------------------------------------------------------

TEST_F(Faults, ABusyHotKeyIsReportedOnceAndTheProgramRunsWithoutIt) {
  ASSERT_TRUE(RegisterHotKey(nullptr, 9, 0, VK_CAPITAL));  // another program holds Caps Lock
  Launch();
  ASSERT_TRUE(Running());
  ASSERT_EQ(bench::MessageBoxes().size(), 1u);
  EXPECT_EQ(bench::MessageBoxes()[0].text, "Hotkey reg failed:1409");
  EXPECT_EQ(DriverState, DRIVER_RUNNING);
  // Caps Lock on the handheld goes to the other holder, not the driver's copy.
  bench::PressCapsLock();
  bench::Settle();
  EXPECT_EQ(CapsLockOn, 0u);
  // Typing still works.
  bench::ClearTrace();
  bench::SendKeyBytes({kA, static_cast<unsigned char>(kA | 0x80)});
  bench::Settle();
  EXPECT_EQ(bench::Trace({"keybd_event(0x41"}).size(), 2u);
  ExitAndCheck();
  EXPECT_EQ(bench::MessageBoxes().size(), 2u) << "the hot key's box and the exit question, no more";
  EXPECT_TRUE(UnregisterHotKey(nullptr, 9)) << "the other holder's hot key is still its own";
}

// ---- the resource library -----------------------------------------------------------------

// A damaged brindleres.dll is either refused, with the same box as a missing one, or
// read as far as it goes; the program never reads past it, never hangs, and leaves
// nothing behind either way.
TEST_F(Faults, ADamagedResourceLibraryIsRefusedOrUsedAndNothingIsLeft) {
  const std::vector<char> good = ReadAll(ExeDir() + "/brindleres.dll");
  ASSERT_GT(good.size(), 4096u);
  auto at32 = [&good](size_t o) {
    return static_cast<uint32_t>(static_cast<uint8_t>(good[o]) | static_cast<uint8_t>(good[o + 1]) << 8 |
                                 static_cast<uint8_t>(good[o + 2]) << 16 | static_cast<uint32_t>(static_cast<uint8_t>(good[o + 3])) << 24);
  };
  const size_t pe = at32(0x3C);
  ASSERT_LT(pe + 24 + 112 + 24, good.size());
  // The resource section: its raw offset, found from the section whose RVA the data
  // directory names.
  const size_t opt = pe + 24, sections = opt + (static_cast<uint8_t>(good[pe + 20]) | static_cast<uint8_t>(good[pe + 21]) << 8);
  const uint32_t rsrcRva = at32(opt + 112 + 16);
  size_t rsrc = 0;
  for (size_t s = sections; s + 40 <= good.size() && s < sections + 40 * 16; s += 40)
    if (at32(s + 12) == rsrcRva) rsrc = at32(s + 20);
  ASSERT_NE(rsrc, 0u);

  struct Row {
    std::string what;
    std::vector<char> bytes;
    bool refused;  // the box and exit code 1; otherwise the program runs
  };
  std::vector<Row> rows;
  for (size_t cut : {size_t{0}, size_t{1}, size_t{64}, pe + 4, rsrc, rsrc + 16, rsrc + 100, good.size() / 2,
                     good.size() - 1})
    rows.push_back({"cut at " + std::to_string(cut), std::vector<char>(good.begin(), good.begin() + cut), true});
  auto flipped = [&good](size_t at, char mask) {
    std::vector<char> b = good;
    b[at] = static_cast<char>(b[at] ^ mask);
    return b;
  };
  rows.push_back({"MZ flipped", flipped(0, 0x20), true});
  rows.push_back({"PE signature flipped", flipped(pe, 0x01), true});
  rows.push_back({"optional header magic flipped", flipped(opt + 1, 0x04), true});
  rows.push_back({"section count flipped", flipped(pe + 6, 0x40), true});
  // The size in the data directory is not needed to read the tree: the file is used.
  rows.push_back({"resource directory size flipped", flipped(opt + 112 + 20 + 3, 0x7F), false});
  rows.push_back({"root directory entry count flipped", flipped(rsrc + 14, 0x7F), true});
  rows.push_back({"first type's offset flipped", flipped(rsrc + 16 + 4 + 2, 0x7F), true});

  for (size_t i = 0; i < rows.size(); ++i) {
    const Row& row = rows[i];
    SCOPED_TRACE(row.what);
    ASSERT_TRUE(bench::Reset());
    ResetProgramState();
    const std::string name = "faults_damaged_" + std::to_string(getpid()) + ".dll";
    const std::string path = ExeDir() + "/" + name;
    WriteAll(path, row.bytes);
    bench::PlaceLibrary("brindleres.dll", name);
    Launch();
    const bool running = Running();
    EXPECT_EQ(running, !row.refused);
    if (running) {
      ExitWithAnswer(IDYES);
      EXPECT_EQ(WaitForExit(), 0u);
    } else {
      EXPECT_EQ(WaitForExit(), 1u);
      auto boxes = bench::MessageBoxes();
      ASSERT_EQ(boxes.size(), 1u);
      EXPECT_EQ(boxes[0].text, "Resource file (brindleres.dll) not found!");
    }
    std::remove(path.c_str());
    EXPECT_EQ(sim::LoadedModules(), 0) << "the library was given back";
    ExpectNothingLeftBehind(running);
  }
}

}  // namespace
}  // namespace programtest
