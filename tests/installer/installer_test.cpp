// The desktop installer's whole run against the simulated desktop: registry, message
// boxes and beeps, the package folder, the two copies and the started command line.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "platform/platform.h"
#include "platform/sim/bench.h"
#include "platform/sim/bench_files.h"
#include "platform/sim/bench_registry.h"
#include "platform/sim/bench_user.h"

namespace {

const char kAppPathsKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\CEAPPMGR.EXE";
const char kSyncKey[] = "Software\\Microsoft\\Windows CE Services";
const char kWorkDir[] = "C:\\Users\\Tester\\Downloads";
const char kCab[] = "MSCF cab bytes\x01\x02\r\n";
const char kIni[] = "[CEAppManager]\r\nVersion = 1.0\r\n";

const std::vector<std::string> kKinds = {"Reg", "MessageBox", "MessageBeep", "CreateDirectory", "CopyFile",
                                         "CreateProcess"};

std::string Noted(const std::string& appPath, const std::string& dir) {
  return "CreateProcess(app=(null), cmd=[\"" + appPath + "\" \"" + dir +
         "\\corvane tavlo\\install.ini\"], inherit=FALSE, flags=0x0, env=(null), cwd=(null))";
}

// The trace of a complete run.
std::vector<std::string> FullRun(const std::string& appPath, const std::string& dir) {
  return {
      "CreateDirectory(" + dir + "\\corvane tavlo)",
      "CopyFile(.\\keybd.PPC_ARM.cab, " + dir + "\\corvane tavlo\\keybd.PPC_ARM.cab, FALSE)",
      "CopyFile(.\\install.ini, " + dir + "\\corvane tavlo\\install.ini, FALSE)",
      Noted(appPath, dir),
  };
}

const std::string kAppPathsLabel = std::string("HKLM\\") + kAppPathsKey;
const std::string kSyncLabel = std::string("HKLM\\") + kSyncKey;

class Installer : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(bench::Reset());
    bench::SetCurrentDir(kWorkDir);
    ASSERT_TRUE(bench::PutFile(".\\keybd.PPC_ARM.cab", std::string(kCab, sizeof kCab - 1)));
    ASSERT_TRUE(bench::PutFile(".\\install.ini", kIni));
    // A start from the desktop shell, so a copied start-up record can be told from a blank one.
    bench::SetStartupInfo(STARTF_USESHOWWINDOW, SW_SHOWNA);
  }

  void Register(const std::string& appPath, const std::string& dir) {
    bench::RegSetString(HKEY_LOCAL_MACHINE, kAppPathsKey, "", appPath);
    bench::RegSetString(HKEY_LOCAL_MACHINE, kSyncKey, "InstalledDir", dir);
    bench::MakeDirs(dir);
  }

  static int Run(LPSTR commandLine = nullptr) {
    return WinMain(nullptr, nullptr, commandLine, SW_SHOWNORMAL);
  }

  static std::vector<std::string> Actions() { return bench::Trace(kKinds); }

  static void ExpectNothingCreatedOrStarted(const std::string& dir) {
    EXPECT_FALSE(bench::DirExists(dir + "\\corvane tavlo"));
    EXPECT_TRUE(bench::StartedProcesses().empty());
    EXPECT_EQ(bench::OpenRegistryKeys(), 0);
  }
};

TEST_F(Installer, CopiesThePackageAndStartsTheApplicationManager) {
  Register("C:\\Sync\\CEAPPMGR.EXE", "C:\\Sync");
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Actions(), FullRun("C:\\Sync\\CEAPPMGR.EXE", "C:\\Sync"));
  EXPECT_EQ(bench::FileContents("C:\\Sync\\corvane tavlo\\keybd.PPC_ARM.cab"), std::string(kCab, sizeof kCab - 1));
  EXPECT_EQ(bench::FileContents("C:\\Sync\\corvane tavlo\\install.ini"), std::string(kIni));
  EXPECT_EQ(bench::ListDir("C:\\Sync\\corvane tavlo"), (std::vector<std::string>{"install.ini", "keybd.PPC_ARM.cab"}));

  auto started = bench::StartedProcesses();
  ASSERT_EQ(started.size(), 1u);
  EXPECT_FALSE(started[0].hasApplication);
  EXPECT_EQ(started[0].commandLine, "\"C:\\Sync\\CEAPPMGR.EXE\" \"C:\\Sync\\corvane tavlo\\install.ini\"");
  EXPECT_FALSE(started[0].hasProcessAttributes);
  EXPECT_FALSE(started[0].hasThreadAttributes);
  EXPECT_EQ(started[0].program, "C:\\Sync\\CEAPPMGR.EXE");
  EXPECT_FALSE(started[0].inheritHandles);
  EXPECT_EQ(started[0].creationFlags, 0u);
  EXPECT_FALSE(started[0].hasEnvironment);
  EXPECT_FALSE(started[0].hasCurrentDirectory);
  ASSERT_TRUE(started[0].hasStartupInfo);
  EXPECT_EQ(started[0].startupInfo.cb, sizeof(STARTUPINFOA));
  EXPECT_EQ(started[0].startupInfo.dwFlags, (DWORD)STARTF_USESHOWWINDOW);
  EXPECT_EQ(started[0].startupInfo.wShowWindow, SW_SHOWNA);
  EXPECT_TRUE(started[0].started);
}

TEST_F(Installer, ReadsBothValuesWithReadAccessAndClosesTheKeys) {
  Register("C:\\Sync\\CEAPPMGR.EXE", "C:\\Sync");
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(bench::RegistryReads(), (std::vector<std::string>{
                                        "RegOpenKeyEx(" + kAppPathsLabel + ", 0x20019) -> 0",
                                        "RegQueryValueEx(" + kAppPathsLabel + ", (default), 256) -> 0",
                                        "RegCloseKey(" + kAppPathsLabel + ")",
                                        "RegOpenKeyEx(" + kSyncLabel + ", 0x20019) -> 0",
                                        "RegQueryValueEx(" + kSyncLabel + ", InstalledDir, 256) -> 0",
                                        "RegCloseKey(" + kSyncLabel + ")",
                                    }));
  EXPECT_EQ(bench::OpenRegistryKeys(), 0);
  EXPECT_TRUE(bench::Trace({"Reg"}).empty()) << "the installer writes nothing to the registry";
}

// Every outcome as one ordered sequence of calls: each key is closed before the run
// goes on or ends, the beep or box comes after that, and nothing follows a failure.
struct OrderCase {
  const char* name;
  void (*setUp)();
  int exitCode;
  std::vector<std::string> calls;
};

void PrintTo(const OrderCase& c, std::ostream* os) { *os << c.name; }

const std::string kOpenManager = "RegOpenKeyEx(" + kAppPathsLabel + ", 0x20019) -> ";
const std::string kReadManager = "RegQueryValueEx(" + kAppPathsLabel + ", (default), 256) -> ";
const std::string kCloseManager = "RegCloseKey(" + kAppPathsLabel + ")";
const std::string kOpenSync = "RegOpenKeyEx(" + kSyncLabel + ", 0x20019) -> ";
const std::string kReadSync = "RegQueryValueEx(" + kSyncLabel + ", InstalledDir, 256) -> ";
const std::string kCloseSync = "RegCloseKey(" + kSyncLabel + ")";
const std::string kBeep = "MessageBeep(0x0)";

void SetManager(const std::string& path) { bench::RegSetString(HKEY_LOCAL_MACHINE, kAppPathsKey, "", path); }
void SetFolder(const std::string& dir) {
  bench::RegSetString(HKEY_LOCAL_MACHINE, kSyncKey, "InstalledDir", dir);
  bench::MakeDirs(dir);
}

std::vector<std::string> Joined(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

const std::vector<std::string> kBothRead = {kOpenManager + "0", kReadManager + "0", kCloseManager,
                                            kOpenSync + "0",    kReadSync + "0",    kCloseSync};

class InstallerOrder : public ::testing::TestWithParam<OrderCase> {};

TEST_P(InstallerOrder, CallsComeInOrderAndStopAtTheFirstFailure) {
  const OrderCase& c = GetParam();
  ASSERT_TRUE(bench::Reset());
  bench::SetCurrentDir(kWorkDir);
  ASSERT_TRUE(bench::PutFile(".\\keybd.PPC_ARM.cab", "cab"));
  ASSERT_TRUE(bench::PutFile(".\\install.ini", "ini"));
  c.setUp();
  bench::TraceRegistryReads();
  EXPECT_EQ(WinMain(nullptr, nullptr, nullptr, SW_SHOWNORMAL), c.exitCode);
  EXPECT_EQ(bench::Trace(kKinds), c.calls);
  EXPECT_EQ(bench::OpenRegistryKeys(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, InstallerOrder,
    ::testing::Values(
        OrderCase{"Installs",
                  [] {
                    SetManager("C:\\Sync\\CEAPPMGR.EXE");
                    SetFolder("C:\\Sync");
                  },
                  0, Joined(kBothRead, FullRun("C:\\Sync\\CEAPPMGR.EXE", "C:\\Sync"))},
        OrderCase{"NoManagerKey", [] { SetFolder("C:\\Sync"); }, 1,
                  {kOpenManager + "2", "MessageBox(Windows CE Services not installed!, corvane tavlo driver, 0x30)"}},
        OrderCase{"NoManagerPath",
                  [] {
                    bench::RegCreateKey(HKEY_LOCAL_MACHINE, kAppPathsKey);
                    SetFolder("C:\\Sync");
                  },
                  1, {kOpenManager + "0", kReadManager + "2", kCloseManager, kBeep}},
        OrderCase{"ManagerPathTooLongToRead",
                  [] {
                    SetManager("C:\\" + std::string(253, 'm'));
                    SetFolder("C:\\Sync");
                  },
                  1, {kOpenManager + "0", kReadManager + "234", kCloseManager, kBeep}},
        OrderCase{"NoSyncKey", [] { SetManager("C:\\Sync\\CEAPPMGR.EXE"); }, 1,
                  {kOpenManager + "0", kReadManager + "0", kCloseManager, kOpenSync + "2",
                   "MessageBox(Cannot find ActiveSync path!, corvane tavlo driver, 0x30)"}},
        OrderCase{"NoInstallFolder",
                  [] {
                    SetManager("C:\\Sync\\CEAPPMGR.EXE");
                    bench::RegCreateKey(HKEY_LOCAL_MACHINE, kSyncKey);
                  },
                  1,
                  {kOpenManager + "0", kReadManager + "0", kCloseManager, kOpenSync + "0", kReadSync + "2",
                   kCloseSync, kBeep}},
        OrderCase{"CompositionTooLong",
                  [] {
                    SetManager("C:\\Sync\\CEAPPMGR.EXE");
                    SetFolder("C:\\" + std::string(221, 'd'));
                  },
                  1, Joined(kBothRead, {kBeep})}),
    [](const ::testing::TestParamInfo<OrderCase>& info) { return std::string(info.param.name); });

// Whatever a value holds (any type, with or without its NUL), the installer uses the text
// up to the first NUL or the end of the data; 256 bytes with no NUL anywhere leave no
// room for one and are refused like a longer value.
struct ShapeCase {
  const char* name;
  DWORD type;
  std::vector<uint8_t> ansi;  // the value as the ANSI call returns it
  const char* used;           // the text the installer goes on with; null: refused with a beep
};

void PrintTo(const ShapeCase& c, std::ostream* os) { *os << c.name; }

std::vector<uint8_t> Bytes(const std::string& s, bool nul) {
  std::vector<uint8_t> b(s.begin(), s.end());
  if (nul) b.push_back(0);
  return b;
}

// The stored form of ANSI bytes: UTF-16LE for the string types, as they are otherwise.
std::vector<uint8_t> Stored(DWORD type, const std::vector<uint8_t>& ansi) {
  if (type != REG_SZ && type != REG_EXPAND_SZ && type != REG_MULTI_SZ) return ansi;
  std::vector<uint8_t> out;
  for (uint8_t b : ansi) {
    out.push_back(b);
    out.push_back(0);
  }
  return out;
}

const std::string k100 = "C:\\" + std::string(97, 'x');
const std::string k255 = "C:\\" + std::string(252, 'x');
const std::string k256 = "C:\\" + std::string(253, 'x');

class InstallerValueShapes : public Installer,
                             public ::testing::WithParamInterface<std::tuple<ShapeCase, bool>> {};

TEST_P(InstallerValueShapes, UsesTheTextUpToItsEndOrRefusesIt) {
  const ShapeCase& c = std::get<0>(GetParam());
  const bool manager = std::get<1>(GetParam());
  std::vector<uint8_t> stored = Stored(c.type, c.ansi);
  if (manager) {
    bench::RegSetRaw(HKEY_LOCAL_MACHINE, kAppPathsKey, "", c.type, stored);
    SetFolder("C:\\Sync");
  } else {
    SetManager("C:\\Sync\\CEAPPMGR.EXE");
    bench::RegSetRaw(HKEY_LOCAL_MACHINE, kSyncKey, "InstalledDir", c.type, stored);
  }
  if (!c.used) {
    EXPECT_EQ(Run(), 1);
    EXPECT_EQ(Actions(), (std::vector<std::string>{kBeep}));
    EXPECT_TRUE(bench::StartedProcesses().empty());
    return;
  }
  EXPECT_EQ(Run(), 0);
  if (manager) {
    EXPECT_EQ(Actions(), FullRun(c.used, "C:\\Sync"));
  } else {
    EXPECT_EQ(Actions(), FullRun("C:\\Sync\\CEAPPMGR.EXE", c.used));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Values, InstallerValueShapes,
    ::testing::Combine(
        ::testing::Values(
            ShapeCase{"String", REG_SZ, Bytes(k100, true), k100.c_str()},
            ShapeCase{"StringWithoutNul", REG_SZ, Bytes(k100, false), k100.c_str()},
            ShapeCase{"ExpandStringUnexpanded", REG_EXPAND_SZ, Bytes("%SystemDrive%\\Sync", true),
                      "%SystemDrive%\\Sync"},
            ShapeCase{"MultiStringFirstOnly", REG_MULTI_SZ, Bytes(std::string("C:\\A\0C:\\B\0", 10), true), "C:\\A"},
            ShapeCase{"BinaryWithoutNul", REG_BINARY, Bytes("C:\\Bin", false), "C:\\Bin"},
            ShapeCase{"DwordAsText", REG_DWORD, Bytes("Sync", false), "Sync"},
            ShapeCase{"DwordWithNuls", REG_DWORD, {'A', 0, 0, 0}, "A"},
            ShapeCase{"EmptyString", REG_SZ, Bytes("", true), ""},
            ShapeCase{"NoData", REG_BINARY, {}, ""},
            ShapeCase{"EmbeddedNulAtTheLastByte", REG_BINARY, Bytes(k255, true), nullptr},
            ShapeCase{"Of255WithoutNul", REG_SZ, Bytes(k255, false), nullptr},
            ShapeCase{"Of256WithoutNul", REG_SZ, Bytes(k256, false), nullptr},
            ShapeCase{"Binary256WithoutNul", REG_BINARY, Bytes(k256, false), nullptr},
            ShapeCase{"Of256WithNul", REG_SZ, Bytes(k256, true), nullptr},
            ShapeCase{"NulInsideOf256NotAtTheEnd", REG_BINARY,
                      Bytes(std::string("C:\\S\0", 5) + std::string(251, 'z'), false), "C:\\S"},
            ShapeCase{"NulInsideOf255", REG_BINARY, Bytes(std::string("C:\\S\0", 5) + std::string(250, 'z'), false),
                      "C:\\S"}),
        ::testing::Bool()),
    [](const ::testing::TestParamInfo<std::tuple<ShapeCase, bool>>& info) {
      return std::string(std::get<0>(info.param).name) + (std::get<1>(info.param) ? "AsManagerPath" : "AsInstallFolder");
    });

TEST_F(Installer, IgnoresItsArguments) {
  static char empty[] = "";
  static char options[] = "/silent /dir=\"D:\\Other\"";
  static char junk[] = "\"\"\" \\\\ %s %n";
  for (LPSTR args : {(LPSTR) nullptr, empty, options, junk}) {
    ASSERT_TRUE(bench::Reset());
    bench::SetCurrentDir(kWorkDir);
    Register("C:\\Sync\\CEAPPMGR.EXE", "C:\\Sync");
    EXPECT_EQ(WinMain((HINSTANCE)empty, (HINSTANCE)options, args, SW_HIDE), 0) << (args ? args : "(null)");
    EXPECT_EQ(Actions(), FullRun("C:\\Sync\\CEAPPMGR.EXE", "C:\\Sync")) << (args ? args : "(null)");
  }
}

// No application manager registered: the first warning, whatever else is there.
TEST_F(Installer, WarnsWhenTheApplicationManagerIsNotRegistered) {
  struct Case {
    const char* name;
    bool syncKey;
    bool otherAppPaths;
  } cases[] = {
      {"nothing registered", false, false},
      {"synchronisation key present", true, false},
      {"another program's App Paths entry", true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(bench::Reset());
    bench::SetCurrentDir(kWorkDir);
    bench::MakeDirs("C:\\Sync");
    if (c.syncKey) bench::RegSetString(HKEY_LOCAL_MACHINE, kSyncKey, "InstalledDir", "C:\\Sync");
    if (c.otherAppPaths)
      bench::RegSetString(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\OTHER.EXE",
                          "", "C:\\Other\\OTHER.EXE");
    EXPECT_EQ(Run(), 1);
    EXPECT_EQ(Actions(), (std::vector<std::string>{
                             "MessageBox(Windows CE Services not installed!, corvane tavlo driver, 0x30)"}));
    auto boxes = bench::MessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].owner, nullptr);
    EXPECT_TRUE(boxes[0].ansi);
    EXPECT_EQ(bench::RegistryReads(),
              (std::vector<std::string>{"RegOpenKeyEx(" + kAppPathsLabel + ", 0x20019) -> 2"}));
    ExpectNothingCreatedOrStarted("C:\\Sync");
  }
}

TEST_F(Installer, AnUnavailableRegistryGivesTheFirstWarning) {
  Register("C:\\Sync\\CEAPPMGR.EXE", "C:\\Sync");
  bench::SetRegistryAvailable(false);
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(Actions(), (std::vector<std::string>{
                           "MessageBox(Windows CE Services not installed!, corvane tavlo driver, 0x30)"}));
  ExpectNothingCreatedOrStarted("C:\\Sync");
}

TEST_F(Installer, BeepsWithoutABoxWhenTheManagerPathIsAbsent) {
  bench::RegCreateKey(HKEY_LOCAL_MACHINE, kAppPathsKey);
  bench::RegSetString(HKEY_LOCAL_MACHINE, kAppPathsKey, "Path", "C:\\Sync");  // a named value only
  bench::RegSetString(HKEY_LOCAL_MACHINE, kSyncKey, "InstalledDir", "C:\\Sync");
  bench::MakeDirs("C:\\Sync");
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(Actions(), (std::vector<std::string>{"MessageBeep(0x0)"}));
  EXPECT_TRUE(bench::MessageBoxes().empty());
  EXPECT_EQ(bench::RegistryReads(), (std::vector<std::string>{
                                        "RegOpenKeyEx(" + kAppPathsLabel + ", 0x20019) -> 0",
                                        "RegQueryValueEx(" + kAppPathsLabel + ", (default), 256) -> 2",
                                        "RegCloseKey(" + kAppPathsLabel + ")",
                                    }));
  ExpectNothingCreatedOrStarted("C:\\Sync");
}

TEST_F(Installer, WarnsWhenTheSynchronisationKeyIsMissing) {
  bench::RegSetString(HKEY_LOCAL_MACHINE, kAppPathsKey, "", "C:\\Sync\\CEAPPMGR.EXE");
  bench::RegSetString(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows CE Service", "InstalledDir", "C:\\Sync");
  bench::MakeDirs("C:\\Sync");
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(Actions(),
            (std::vector<std::string>{"MessageBox(Cannot find ActiveSync path!, corvane tavlo driver, 0x30)"}));
  auto boxes = bench::MessageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].owner, nullptr);
  EXPECT_EQ(boxes[0].type, 0x30u);
  ExpectNothingCreatedOrStarted("C:\\Sync");
}

TEST_F(Installer, BeepsWithoutABoxWhenTheInstallFolderIsAbsent) {
  bench::RegSetString(HKEY_LOCAL_MACHINE, kAppPathsKey, "", "C:\\Sync\\CEAPPMGR.EXE");
  bench::RegSetString(HKEY_LOCAL_MACHINE, kSyncKey, "InstallDir", "C:\\Sync");  // not the name looked for
  bench::MakeDirs("C:\\Sync");
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(Actions(), (std::vector<std::string>{"MessageBeep(0x0)"}));
  EXPECT_EQ(bench::RegistryReads().back(), "RegCloseKey(" + kSyncLabel + ")");
  ExpectNothingCreatedOrStarted("C:\\Sync");
}

// The registry type of either value is not looked at and nothing in it is expanded.
TEST_F(Installer, TakesTheValuesAsStoredWhateverTheirType) {
  bench::RegSetString(HKEY_LOCAL_MACHINE, kAppPathsKey, "", "%ProgramFiles%\\Sync\\CEAPPMGR.EXE", REG_EXPAND_SZ);
  std::string dir = "C:\\Sync";
  bench::RegSetRaw(HKEY_LOCAL_MACHINE, kSyncKey, "InstalledDir", REG_BINARY,
                   std::vector<uint8_t>(dir.begin(), dir.end()));  // no terminating NUL either
  bench::MakeDirs(dir);
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Actions(), FullRun("%ProgramFiles%\\Sync\\CEAPPMGR.EXE", dir));
}

TEST_F(Installer, ASecondRunOverwritesBothFilesAndStartsTheManagerAgain) {
  Register("C:\\Sync\\CEAPPMGR.EXE", "C:\\Sync");
  ASSERT_EQ(Run(), 0);
  ASSERT_TRUE(bench::PutFile(".\\keybd.PPC_ARM.cab", "second package"));
  ASSERT_TRUE(bench::PutFile(".\\install.ini", "second description"));
  bench::ClearTrace();
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Actions(), FullRun("C:\\Sync\\CEAPPMGR.EXE", "C:\\Sync"));
  EXPECT_EQ(bench::FileContents("C:\\Sync\\corvane tavlo\\keybd.PPC_ARM.cab"), std::string("second package"));
  EXPECT_EQ(bench::FileContents("C:\\Sync\\corvane tavlo\\install.ini"), std::string("second description"));
  auto started = bench::StartedProcesses();
  ASSERT_EQ(started.size(), 2u);
  EXPECT_EQ(started[1].commandLine, started[0].commandLine);
}

TEST_F(Installer, StartsTheManagerEvenWithoutTheFilesInTheCurrentDirectory) {
  Register("C:\\Sync\\CEAPPMGR.EXE", "C:\\Sync");
  bench::SetCurrentDir("C:\\Users\\Tester\\Desktop");  // the files stay in Downloads
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Actions(), FullRun("C:\\Sync\\CEAPPMGR.EXE", "C:\\Sync"));
  EXPECT_TRUE(bench::DirExists("C:\\Sync\\corvane tavlo"));
  EXPECT_TRUE(bench::ListDir("C:\\Sync\\corvane tavlo").empty());
  ASSERT_EQ(bench::StartedProcesses().size(), 1u);
}

TEST_F(Installer, LeavesAnEarlierDescriptionWhenTheFilesAreMissing) {
  Register("C:\\Sync\\CEAPPMGR.EXE", "C:\\Sync");
  ASSERT_TRUE(bench::PutFile("C:\\Sync\\corvane tavlo\\install.ini", "from an earlier run"));
  bench::SetCurrentDir("C:\\Users\\Tester\\Desktop");
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(bench::FileContents("C:\\Sync\\corvane tavlo\\install.ini"), std::string("from an earlier run"));
  EXPECT_EQ(bench::StartedProcesses().size(), 1u);
}

// A trailing backslash on the install folder is kept: every composed path doubles it.
TEST_F(Installer, KeepsATrailingBackslashOfTheInstallFolder) {
  Register("C:\\Sync\\CEAPPMGR.EXE", "C:\\Sync\\");
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Actions(), (std::vector<std::string>{
                           "CreateDirectory(C:\\Sync\\\\corvane tavlo)",
                           "CopyFile(.\\keybd.PPC_ARM.cab, C:\\Sync\\\\corvane tavlo\\keybd.PPC_ARM.cab, FALSE)",
                           "CopyFile(.\\install.ini, C:\\Sync\\\\corvane tavlo\\install.ini, FALSE)",
                           "CreateProcess(app=(null), cmd=[\"C:\\Sync\\CEAPPMGR.EXE\" "
                           "\"C:\\Sync\\\\corvane tavlo\\install.ini\"], inherit=FALSE, flags=0x0, env=(null), "
                           "cwd=(null))",
                       }));
  // Windows reads the doubled separator as one.
  EXPECT_TRUE(bench::FileExists("C:\\Sync\\corvane tavlo\\install.ini"));
}

TEST_F(Installer, PathsWithSpacesReachTheManagerIntact) {
  const std::string app = "C:\\Program Files\\Sync Tools\\CEAPPMGR.EXE";
  const std::string dir = "C:\\Program Files\\Sync Tools";
  Register(app, dir);
  bench::SetCurrentDir("C:\\Users\\Test User\\My Downloads");
  ASSERT_TRUE(bench::PutFile(".\\keybd.PPC_ARM.cab", "cab"));
  ASSERT_TRUE(bench::PutFile(".\\install.ini", "ini"));
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Actions(), FullRun(app, dir));
  auto started = bench::StartedProcesses();
  ASSERT_EQ(started.size(), 1u);
  EXPECT_EQ(started[0].commandLine,
            "\"C:\\Program Files\\Sync Tools\\CEAPPMGR.EXE\" \"C:\\Program Files\\Sync Tools\\corvane "
            "tavlo\\install.ini\"");
  EXPECT_EQ(started[0].program, app);
  EXPECT_EQ(started[0].parentCurrentDirectory, "C:\\Users\\Test User\\My Downloads");
  EXPECT_EQ(bench::FileContents(dir + "\\corvane tavlo\\install.ini"), std::string("ini"));
}

// Failures after the registry reads are not looked at.
TEST_F(Installer, EndsWithZeroWhenTheManagerCannotBeStarted) {
  Register("C:\\Sync\\CEAPPMGR.EXE", "C:\\Sync");
  bench::SetProgramMissing("c:\\sync\\ceappmgr.exe");
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Actions(), FullRun("C:\\Sync\\CEAPPMGR.EXE", "C:\\Sync"));
  auto started = bench::StartedProcesses();
  ASSERT_EQ(started.size(), 1u);
  EXPECT_FALSE(started[0].started);
}

TEST_F(Installer, GoesOnWhenTheInstallFolderIsNotWritable) {
  Register("C:\\Sync\\CEAPPMGR.EXE", "C:\\Sync");
  bench::SetWritable("C:\\Sync", false);
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Actions(), FullRun("C:\\Sync\\CEAPPMGR.EXE", "C:\\Sync"));
  EXPECT_FALSE(bench::DirExists("C:\\Sync\\corvane tavlo"));
  EXPECT_EQ(bench::StartedProcesses().size(), 1u);
}

TEST_F(Installer, GoesOnWhenTheInstallFolderDoesNotExist) {
  bench::RegSetString(HKEY_LOCAL_MACHINE, kAppPathsKey, "", "C:\\Sync\\CEAPPMGR.EXE");
  bench::RegSetString(HKEY_LOCAL_MACHINE, kSyncKey, "InstalledDir", "C:\\Gone\\Sync");
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Actions(), FullRun("C:\\Sync\\CEAPPMGR.EXE", "C:\\Gone\\Sync"));
  EXPECT_FALSE(bench::DirExists("C:\\Gone")) << "only the package folder itself is ever created";
}

// Values that would not fit the 256-byte buffers, around each limit: the longest path
// is the install folder + 32 characters, the command line both values + 31.
struct LengthCase {
  const char* name;
  size_t appLen;  // length of the application manager path
  size_t dirLen;  // length of the install folder
  bool runs;
};

void PrintTo(const LengthCase& c, std::ostream* os) { *os << c.name; }

std::string PathOfLength(const std::string& head, size_t len, const std::string& tail = "") {
  std::string s = head;
  while (s.size() + tail.size() < len) {
    size_t piece = std::min<size_t>(60, len - tail.size() - s.size());
    if (piece > 1) {
      s += "\\" + std::string(piece - 1, 'd');
    } else {
      s += "d";
    }
  }
  return s + tail;
}

class InstallerLengths : public Installer, public ::testing::WithParamInterface<LengthCase> {};

TEST_P(InstallerLengths, RefusesWhatWouldNotFitBeforeDoingAnything) {
  const LengthCase& c = GetParam();
  std::string app = c.appLen < 22 ? std::string(c.appLen, 'A') : PathOfLength("C:\\Tools", c.appLen, "\\CEAPPMGR.EXE");
  std::string dir = PathOfLength("C:\\Sync", c.dirLen);
  ASSERT_EQ(app.size(), c.appLen);
  ASSERT_EQ(dir.size(), c.dirLen);
  Register(app, dir);
  if (c.runs) {
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(Actions(), FullRun(app, dir));
    EXPECT_TRUE(bench::FileExists(dir + "\\corvane tavlo\\keybd.PPC_ARM.cab"));
    auto started = bench::StartedProcesses();
    ASSERT_EQ(started.size(), 1u);
    EXPECT_EQ(started[0].commandLine, "\"" + app + "\" \"" + dir + "\\corvane tavlo\\install.ini\"");
  } else {
    EXPECT_EQ(Run(), 1);
    EXPECT_EQ(Actions(), (std::vector<std::string>{"MessageBeep(0x0)"}));
    EXPECT_TRUE(bench::ListDir(dir).empty());
    ExpectNothingCreatedOrStarted(dir);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Limits, InstallerLengths,
    ::testing::Values(LengthCase{"LongestFolderThatFits", 0, 223, true},
                      LengthCase{"FolderOneTooLongForTheCabPath", 0, 224, false},
                      LengthCase{"LongestFolderWithAOneCharacterManager", 1, 223, true},
                      LengthCase{"CommandLineOneTooLong", 2, 223, false},
                      LengthCase{"CommandLineOfExactly255", 100, 124, true},
                      LengthCase{"CommandLineOf256", 100, 125, false},
                      LengthCase{"LongestManagerPathAlone", 255, 10, false},
                      LengthCase{"ManagerPathTooLongToRead", 256, 10, false},
                      LengthCase{"FolderTooLongToRead", 20, 256, false},
                      LengthCase{"FolderOf255", 20, 255, false}),
    [](const ::testing::TestParamInfo<LengthCase>& info) { return std::string(info.param.name); });

// A value that fills the whole buffer without a terminating NUL has no room for one.
TEST_F(Installer, RefusesAValueOf256BytesWithoutTerminator) {
  bench::RegSetRaw(HKEY_LOCAL_MACHINE, kAppPathsKey, "", REG_BINARY, std::vector<uint8_t>(256, 'a'));
  bench::RegSetString(HKEY_LOCAL_MACHINE, kSyncKey, "InstalledDir", "C:\\Sync");
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(Actions(), (std::vector<std::string>{"MessageBeep(0x0)"}));
  ExpectNothingCreatedOrStarted("C:\\Sync");
}

TEST_F(Installer, RunsAgainCleanlyAfterARefusedRun) {
  Register(PathOfLength("C:\\Tools", 200, "\\CEAPPMGR.EXE"), PathOfLength("C:\\Sync", 100));
  ASSERT_EQ(Run(), 1);
  Register("C:\\Sync\\CEAPPMGR.EXE", "C:\\Sync");
  bench::ClearTrace();
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Actions(), FullRun("C:\\Sync\\CEAPPMGR.EXE", "C:\\Sync"));
}

}  // namespace
