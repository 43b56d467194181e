// The simulated desktop pieces the installer stands on: registry, files, process start
// and message boxes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/sim/bench.h"
#include "platform/sim/bench_files.h"
#include "platform/sim/bench_registry.h"
#include "platform/sim/bench_user.h"

namespace {

class SimDesktop : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(bench::Reset()); }
};

TEST_F(SimDesktop, AnsiAndWideViewsOfAStringAgree) {
  HKEY key;
  DWORD disp = 0;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"SOFTWARE\\Corvane\\Tavlo", 0, nullptr, 0, 0, nullptr, &key, &disp),
            ERROR_SUCCESS);
  EXPECT_EQ(disp, (DWORD)REG_CREATED_NEW_KEY);
  const WCHAR text[] = L"caf\u00e9";
  ASSERT_EQ(RegSetValueExW(key, L"Name", 0, REG_SZ, (const BYTE*)text, sizeof text), ERROR_SUCCESS);
  char ansi[16];
  DWORD size = sizeof ansi, type = 0;
  ASSERT_EQ(RegQueryValueExA(key, "NAME", nullptr, &type, (LPBYTE)ansi, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, (DWORD)REG_SZ);
  EXPECT_EQ(size, 5u);
  EXPECT_STREQ(ansi, "caf\xe9");
  WCHAR wide[16];
  size = sizeof wide;
  ASSERT_EQ(RegQueryValueExW(key, L"name", nullptr, nullptr, (LPBYTE)wide, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, sizeof text);
  EXPECT_EQ(std::wstring(wide), std::wstring(text));
  EXPECT_EQ(bench::RegGetString(HKEY_CURRENT_USER, "software\\corvane\\TAVLO", "Name"), std::string("caf\xc3\xa9"));
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
  EXPECT_EQ(bench::OpenRegistryKeys(), 0);
}

TEST_F(SimDesktop, ShortBuffersMissingValuesAndBadHandles) {
  bench::RegSetDword(HKEY_CURRENT_USER, "SOFTWARE\\Corvane\\Tavlo", "RepeatRate", 20);
  bench::RegSetString(HKEY_CURRENT_USER, "SOFTWARE\\Corvane\\Tavlo", "Text", "abcdef");
  HKEY key;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"SOFTWARE\\CORVANE\\tavlo", 0, 0, &key), ERROR_SUCCESS);
  char buf[4] = {'x', 'x', 'x', 'x'};
  DWORD size = 3;
  EXPECT_EQ(RegQueryValueExA(key, "Text", nullptr, nullptr, (LPBYTE)buf, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 7u);
  DWORD value = 0;
  size = sizeof value;
  EXPECT_EQ(RegQueryValueExW(key, L"RepeatRate", nullptr, nullptr, (LPBYTE)&value, &size), ERROR_SUCCESS);
  EXPECT_EQ(value, 20u);
  size = sizeof value;
  EXPECT_EQ(RegQueryValueExW(key, L"InitialDelay", nullptr, nullptr, (LPBYTE)&value, &size), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegQueryValueExW(key, L"RepeatRate", nullptr, nullptr, (LPBYTE)&value, nullptr), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegQueryValueExW((HKEY)0x1234, L"RepeatRate", nullptr, nullptr, (LPBYTE)&value, &size),
            ERROR_INVALID_HANDLE);
  HKEY missing = (HKEY)1;
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"SOFTWARE\\Nobody", 0, 0, &missing), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(missing, nullptr);
  bench::SetRegistryAvailable(false);
  EXPECT_EQ(RegQueryValueExW(key, L"RepeatRate", nullptr, nullptr, (LPBYTE)&value, &size), ERROR_ACCESS_DENIED);
  bench::SetRegistryAvailable(true);
  EXPECT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, L"software\\corvane"), ERROR_SUCCESS);
  EXPECT_EQ(RegQueryValueExW(key, L"RepeatRate", nullptr, nullptr, (LPBYTE)&value, &size), ERROR_KEY_DELETED);
  RegCloseKey(key);
}

TEST_F(SimDesktop, WritesGoToTheTrace) {
  HKEY key;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"SOFTWARE\\Corvane", 0, nullptr, 0, 0, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  HKEY sub;
  ASSERT_EQ(RegCreateKeyExW(key, L"Tavlo", 0, nullptr, 0, 0, nullptr, &sub, nullptr), ERROR_SUCCESS);
  DWORD v = 500;
  RegSetValueExW(sub, L"InitialDelay", 0, REG_DWORD, (const BYTE*)&v, 4);
  RegDeleteValueW(sub, L"InitialDelay");
  RegCloseKey(sub);
  RegCloseKey(key);
  EXPECT_EQ(bench::Trace({"Reg"}), (std::vector<std::string>{
                                       "RegCreateKeyEx(HKCU\\SOFTWARE\\Corvane)",
                                       "RegCreateKeyEx(HKCU\\SOFTWARE\\Corvane\\Tavlo)",
                                       "RegSetValueEx(HKCU\\SOFTWARE\\Corvane\\Tavlo, InitialDelay, REG_DWORD, 500)",
                                       "RegDeleteValue(HKCU\\SOFTWARE\\Corvane\\Tavlo, InitialDelay)",
                                   }));
}

TEST_F(SimDesktop, WindowsPathsMapIntoTheScratchDirectory) {
  bench::SetCurrentDir("C:\\Work");
  ASSERT_TRUE(bench::PutFile("a.txt", "A"));
  EXPECT_EQ(bench::HostPath("C:\\Work\\.\\x\\..\\a.txt"), bench::ScratchDir() + "/C/Work/a.txt");
  EXPECT_EQ(bench::HostPath("c:/Work//a.txt"), bench::ScratchDir() + "/C/Work/a.txt");
  char cwd[7];
  EXPECT_EQ(GetCurrentDirectoryA(sizeof cwd, cwd), 8u);  // too short: the size needed
  char cwd2[32];
  EXPECT_EQ(GetCurrentDirectoryA(sizeof cwd2, cwd2), 7u);
  EXPECT_STREQ(cwd2, "C:\\Work");
  EXPECT_TRUE(CreateDirectoryA("..\\Out", nullptr));
  EXPECT_FALSE(CreateDirectoryA("C:\\Out", nullptr));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_ALREADY_EXISTS);
  EXPECT_FALSE(CreateDirectoryA("C:\\No\\Such", nullptr));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_PATH_NOT_FOUND);
  EXPECT_TRUE(CopyFileA(".\\a.txt", "C:\\Out\\b.txt", TRUE));
  EXPECT_FALSE(CopyFileA(".\\a.txt", "C:\\Out\\b.txt", TRUE));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_EXISTS);
  EXPECT_FALSE(CopyFileA(".\\none.txt", "C:\\Out\\c.txt", FALSE));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(bench::FileContents("C:\\Out\\b.txt"), std::string("A"));
  EXPECT_TRUE(SetCurrentDirectoryA("C:\\Out"));
  EXPECT_EQ(bench::CurrentDir(), "C:\\Out");
  EXPECT_FALSE(SetCurrentDirectoryA("C:\\Nowhere"));
}

TEST_F(SimDesktop, ProcessStartIsRecordedAndHandlesClose) {
  char cmd[] = "\"C:\\A B\\x.exe\" arg";
  STARTUPINFOA si;
  GetStartupInfoA(&si);
  PROCESS_INFORMATION pi;
  int handles = bench::OpenHandles();
  ASSERT_TRUE(CreateProcessA(nullptr, cmd, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
  EXPECT_EQ(bench::OpenHandles(), handles + 2);
  EXPECT_TRUE(CloseHandle(pi.hProcess));
  EXPECT_TRUE(CloseHandle(pi.hThread));
  bench::SetProgramMissing("C:\\A B\\X.EXE");
  EXPECT_FALSE(CreateProcessA(nullptr, cmd, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND);
  auto started = bench::StartedProcesses();
  ASSERT_EQ(started.size(), 2u);
  EXPECT_EQ(started[0].program, "C:\\A B\\x.exe");
  EXPECT_TRUE(started[0].started);
  EXPECT_FALSE(started[1].started);
}

TEST_F(SimDesktop, ProcessStartNotesSecurityAttributes) {
  char cmd[] = "x.exe";
  STARTUPINFOA si{};
  PROCESS_INFORMATION pi;
  SECURITY_ATTRIBUTES sa{};
  CreateProcessA(nullptr, cmd, &sa, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi);
  CreateProcessA(nullptr, cmd, nullptr, &sa, FALSE, 0, nullptr, nullptr, &si, &pi);
  CreateProcessA(nullptr, cmd, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi);
  auto started = bench::StartedProcesses();
  ASSERT_EQ(started.size(), 3u);
  EXPECT_TRUE(started[0].hasProcessAttributes);
  EXPECT_FALSE(started[0].hasThreadAttributes);
  EXPECT_FALSE(started[1].hasProcessAttributes);
  EXPECT_TRUE(started[1].hasThreadAttributes);
  EXPECT_FALSE(started[2].hasProcessAttributes);
  EXPECT_FALSE(started[2].hasThreadAttributes);
  auto trace = bench::Trace({"CreateProcess"});
  ASSERT_EQ(trace.size(), 3u);
  EXPECT_EQ(trace[0], "CreateProcess(app=(null), cmd=[x.exe], process sa, inherit=FALSE, flags=0x0, env=(null), cwd=(null))");
  EXPECT_EQ(trace[1], "CreateProcess(app=(null), cmd=[x.exe], thread sa, inherit=FALSE, flags=0x0, env=(null), cwd=(null))");
  EXPECT_EQ(trace[2], "CreateProcess(app=(null), cmd=[x.exe], inherit=FALSE, flags=0x0, env=(null), cwd=(null))");
}

TEST_F(SimDesktop, RegistryReadsJoinTheTraceOnlyWhenAsked) {
  bench::RegSetString(HKEY_LOCAL_MACHINE, "Software\\X", "V", "v");
  auto readV = [] {
    HKEY key;
    char buf[8];
    DWORD size = sizeof buf;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\X", 0, KEY_READ, &key), ERROR_SUCCESS);
    MessageBeep(MB_OK);
    EXPECT_EQ(RegQueryValueExA(key, "V", nullptr, nullptr, (LPBYTE)buf, &size), ERROR_SUCCESS);
    RegCloseKey(key);
  };
  readV();
  EXPECT_EQ(bench::Trace({"Reg", "MessageBeep"}), (std::vector<std::string>{"MessageBeep(0x0)"}));
  bench::ClearTrace();
  bench::TraceRegistryReads();
  readV();
  EXPECT_EQ(bench::Trace({"Reg", "MessageBeep"}), (std::vector<std::string>{
                                                       "RegOpenKeyEx(HKLM\\Software\\X, 0x20019) -> 0",
                                                       "MessageBeep(0x0)",
                                                       "RegQueryValueEx(HKLM\\Software\\X, V, 8) -> 0",
                                                       "RegCloseKey(HKLM\\Software\\X)",
                                                   }));
  EXPECT_EQ(bench::RegistryReads().size(), 6u);
  ASSERT_TRUE(bench::Reset());
  bench::RegSetString(HKEY_LOCAL_MACHINE, "Software\\X", "V", "v");
  readV();
  EXPECT_EQ(bench::Trace({"Reg"}), std::vector<std::string>{});
}

TEST_F(SimDesktop, MessageBoxesTakeQueuedAnswersOrTheirDefaultButton) {
  EXPECT_EQ(MessageBoxW(nullptr, L"Exit?", L"Keyboard", MB_YESNO | MB_ICONQUESTION), IDYES);
  EXPECT_EQ(MessageBoxW(nullptr, L"Exit?", L"Keyboard", MB_YESNO | 0x100), IDNO);
  bench::AnswerNextMessageBox(IDCANCEL);
  EXPECT_EQ(MessageBoxA(nullptr, "t", "c", MB_OKCANCEL), IDCANCEL);
  EXPECT_EQ(MessageBoxA(nullptr, "t", "c", MB_OK), IDOK);
  MessageBeep(MB_OK);
  EXPECT_EQ(bench::Trace({"MessageB"}), (std::vector<std::string>{
                                            "MessageBox(Exit?, Keyboard, 0x24)",
                                            "MessageBox(Exit?, Keyboard, 0x104)",
                                            "MessageBox(t, c, 0x1)",
                                            "MessageBox(t, c, 0x0)",
                                            "MessageBeep(0x0)",
                                        }));
}

}  // namespace
