// The registry file of a running program: what it looks like after the program's
// calls, that every value comes back as it went in, that a malformed file stops the
// load and stays as it was, and that a save never leaves half a file or loses a change.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/sim/bench.h"
#include "platform/sim/bench_registry.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

const char kTavlo[] = "SOFTWARE\\Corvane\\Tavlo";

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

std::vector<std::string> Names(const std::string& dir) {
  std::vector<std::string> out;
  for (auto& e : fs::directory_iterator(dir)) out.push_back(e.path().filename().string());
  std::sort(out.begin(), out.end());
  return out;
}

class SimRegFile : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(bench::Reset());
    char tmpl[] = "/tmp/brindle-regfile-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
    file = dir + "/registry.reg";
  }
  void TearDown() override {
    bench::Reset();
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
  // The program's way to set a value.
  static LONG SetValue(const wchar_t* sub, const wchar_t* name, DWORD type, const void* data, DWORD size) {
    HKEY k;
    LONG rc = RegCreateKeyExW(HKEY_CURRENT_USER, sub, 0, nullptr, 0, KEY_WRITE, nullptr, &k, nullptr);
    if (rc != ERROR_SUCCESS) return rc;
    rc = RegSetValueExW(k, name, 0, type, (const BYTE*)data, size);
    RegCloseKey(k);
    return rc;
  }
  // Forget everything, then load the file again.
  void Reload() {
    ASSERT_TRUE(bench::Reset());
    ASSERT_FALSE(bench::RegKeyExists(HKEY_CURRENT_USER, "SOFTWARE"));
    std::string error;
    ASSERT_TRUE(bench::UseRegistryFile(file, &error)) << error;
  }
  std::string dir, file;
};

// ---- what the program's calls leave in the file --------------------------------

TEST_F(SimRegFile, ProgramCallsAreWrittenAsTheDesktopEditorWritesThem) {
  std::string error;
  ASSERT_TRUE(bench::UseRegistryFile(file, &error)) << error;
  EXPECT_FALSE(fs::exists(file)) << "a missing file is created at the first change, not at the load";

  HKEY k;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"SOFTWARE\\Corvane\\Tavlo", 0, nullptr, 0, KEY_WRITE, nullptr,
                            &k, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(ReadText(file),
            "REGEDIT4\r\n\r\n"
            "[HKEY_CURRENT_USER\\SOFTWARE]\r\n\r\n"
            "[HKEY_CURRENT_USER\\SOFTWARE\\Corvane]\r\n\r\n"
            "[HKEY_CURRENT_USER\\SOFTWARE\\Corvane\\Tavlo]\r\n\r\n");

  DWORD delay = 500;
  ASSERT_EQ(RegSetValueExW(k, L"Delay", 0, REG_DWORD, (const BYTE*)&delay, 4), ERROR_SUCCESS);
  const wchar_t path[] = L"C:\\Program Files\\\"x\"";
  ASSERT_EQ(RegSetValueExW(k, L"Path", 0, REG_SZ, (const BYTE*)path, sizeof path), ERROR_SUCCESS);
  const wchar_t def[] = L"d\u00e9\u20ac";
  ASSERT_EQ(RegSetValueExW(k, nullptr, 0, REG_SZ, (const BYTE*)def, sizeof def), ERROR_SUCCESS);
  const wchar_t exp[] = L"%X%";
  ASSERT_EQ(RegSetValueExW(k, L"Exp", 0, REG_EXPAND_SZ, (const BYTE*)exp, sizeof exp), ERROR_SUCCESS);
  const char latin[] = "caf\xe9";
  ASSERT_EQ(RegSetValueExA(k, "Ansi", 0, REG_SZ, (const BYTE*)latin, sizeof latin), ERROR_SUCCESS);
  const std::string tavlo = "[HKEY_CURRENT_USER\\SOFTWARE\\Corvane\\Tavlo]\r\n";
  const std::string head = "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\SOFTWARE]\r\n\r\n"
                           "[HKEY_CURRENT_USER\\SOFTWARE\\Corvane]\r\n\r\n";
  EXPECT_EQ(ReadText(file), head + tavlo +
                                "\"Delay\"=dword:000001f4\r\n"
                                "\"Path\"=\"C:\\\\Program Files\\\\\\\"x\\\"\"\r\n"
                                "@=\"d\xc3\xa9\xe2\x82\xac\"\r\n"
                                "\"Exp\"=hex(2):25,00,58,00,25,00,00,00\r\n"
                                "\"Ansi\"=\"caf\xc3\xa9\"\r\n\r\n");

  ASSERT_EQ(RegDeleteValueW(k, L"Path"), ERROR_SUCCESS);
  ASSERT_EQ(RegDeleteValueW(k, L""), ERROR_SUCCESS);
  ASSERT_EQ(RegDeleteValueW(k, L"Exp"), ERROR_SUCCESS);
  ASSERT_EQ(RegDeleteValueW(k, L"Ansi"), ERROR_SUCCESS);
  EXPECT_EQ(ReadText(file), head + tavlo + "\"Delay\"=dword:000001f4\r\n\r\n");
  RegCloseKey(k);

  ASSERT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, L"SOFTWARE\\Corvane"), ERROR_SUCCESS);
  EXPECT_EQ(ReadText(file), "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\SOFTWARE]\r\n\r\n");
  EXPECT_EQ(bench::RegistryFileError(), "");
}

TEST_F(SimRegFile, LongBinaryValuesWrapAtEightyColumnsWithContinuations) {
  ASSERT_TRUE(bench::UseRegistryFile(file, nullptr));
  Bytes data(300);
  for (size_t i = 0; i < data.size(); ++i) data[i] = (uint8_t)(i * 7);
  bench::RegSetRaw(HKEY_CURRENT_USER, kTavlo, "Blob", REG_BINARY, data);
  std::string text = ReadText(file);
  size_t at = text.find("\"Blob\"=hex:00,07,0e,");
  ASSERT_NE(at, std::string::npos) << text;
  std::vector<std::string> lines;
  std::stringstream ss(text.substr(at));
  for (std::string l; std::getline(ss, l) && l != "\r";) lines.push_back(l);
  ASSERT_GT(lines.size(), 10u);
  for (size_t i = 0; i < lines.size(); ++i) {
    ASSERT_EQ(lines[i].back(), '\r');
    EXPECT_LE(lines[i].size(), 81u) << i;  // 80 columns and the CR
    if (i + 1 < lines.size()) {
      EXPECT_EQ(lines[i].substr(lines[i].size() - 3), ",\\\r") << i;
    }
    if (i > 0) {
      EXPECT_EQ(lines[i].compare(0, 2, "  "), 0) << i;
    }
  }
  Reload();
  auto v = bench::RegGet(HKEY_CURRENT_USER, kTavlo, "Blob");
  ASSERT_TRUE(v);
  EXPECT_EQ(v->bytes, data);
}

// ---- round trip ----------------------------------------------------------------

struct RoundTrip {
  std::string name;
  DWORD type;
  Bytes bytes;
};

Bytes Utf16(const std::u16string& s, bool nul = true) {
  Bytes b;
  for (char16_t c : s) b.push_back((uint8_t)c), b.push_back((uint8_t)(c >> 8));
  if (nul) b.push_back(0), b.push_back(0);
  return b;
}

TEST_F(SimRegFile, EveryTypeNameAndByteComesBackAsItWent) {
  Bytes all(256);
  for (int i = 0; i < 256; ++i) all[i] = (uint8_t)i;
  Bytes longBlob(5000);
  for (size_t i = 0; i < longBlob.size(); ++i) longBlob[i] = (uint8_t)(i * 31 + 3);
  const std::vector<RoundTrip> table = {
      {"", REG_SZ, Utf16(u"default")},
      {"plain", REG_SZ, Utf16(u"hello")},
      {"empty string", REG_SZ, Utf16(u"")},
      {"no bytes", REG_SZ, {}},
      {"embedded NUL", REG_SZ, Utf16(std::u16string(u"a\0b", 3))},
      {"no terminator", REG_SZ, Utf16(u"abc", false)},
      {"odd length", REG_SZ, {0x41, 0x00, 0x42}},
      {"lone surrogate", REG_SZ, Utf16(u"x\xD800y")},
      {"pair", REG_SZ, Utf16(u"\U0001F600 \u00e9\u20ac")},
      {"escapes", REG_SZ, Utf16(u"q\"uo\\te\\\"")},
      {"line breaks", REG_SZ, Utf16(u"one\r\ntwo\nthree\r")},
      {"expand", REG_EXPAND_SZ, Utf16(u"%WINDIR%\\x")},
      {"multi", REG_MULTI_SZ, Utf16(std::u16string(u"a\0bc\0\0", 6), false)},
      {"multi empty", REG_MULTI_SZ, {}},
      {"binary empty", REG_BINARY, {}},
      {"binary all bytes", REG_BINARY, all},
      {"binary long", REG_BINARY, longBlob},
      {"dword", REG_DWORD, {0xF4, 0x01, 0x00, 0x80}},
      {"dword short", REG_DWORD, {0x01, 0x02, 0x03}},
      {"dword empty", REG_DWORD, {}},
      {"big endian", 5, {0, 0, 1, 0xF4}},
      {"none", REG_NONE, {}},
      {"none with bytes", REG_NONE, {1, 2}},
      {"odd type", 0x12345678, {9}},
      {"with \"quotes\"", REG_DWORD, {1, 0, 0, 0}},
      {"back\\slash\\", REG_DWORD, {2, 0, 0, 0}},
      {"a=b", REG_DWORD, {3, 0, 0, 0}},
      {"=", REG_DWORD, {4, 0, 0, 0}},
      {";semi", REG_DWORD, {5, 0, 0, 0}},
      {"[bracket]", REG_DWORD, {6, 0, 0, 0}},
      {"line\r\nbreak", REG_DWORD, {7, 0, 0, 0}},
      {"caf\xc3\xa9 \xe2\x82\xac", REG_DWORD, {8, 0, 0, 0}},
      {std::string("nul\0in name", 11), REG_DWORD, {9, 0, 0, 0}},
      {" spaces ", REG_DWORD, {10, 0, 0, 0}},
      {"@", REG_DWORD, {11, 0, 0, 0}},
  };
  ASSERT_TRUE(bench::UseRegistryFile(file, nullptr));
  for (auto& row : table) bench::RegSetRaw(HKEY_CURRENT_USER, kTavlo, row.name, row.type, row.bytes);
  bench::RegCreateKey(HKEY_CURRENT_USER, "SOFTWARE\\Empty key");
  bench::RegCreateKey(HKEY_LOCAL_MACHINE, "Software\\Weird ]] [name\\\"q\"\\x=y");
  // Names only the program's wide calls can give: characters no UTF-8 string makes.
  const wchar_t oddName[] = {L'n', 0xD800, L'z', 0xDFFF, 0};
  DWORD one = 1;
  ASSERT_EQ(SetValue(L"SOFTWARE\\Wide", oddName, REG_DWORD, &one, 4), ERROR_SUCCESS);
  const wchar_t oddKey[] = {L'k', 0xDC00, 0};
  HKEY k;
  ASSERT_EQ(RegCreateKeyExW(HKEY_USERS, oddKey, 0, nullptr, 0, KEY_WRITE, nullptr, &k, nullptr), ERROR_SUCCESS);
  RegCloseKey(k);
  bench::RegSetString(HKEY_CLASSES_ROOT, "", "", "root default");
  const std::string first = ReadText(file);

  Reload();
  for (auto& row : table) {
    auto v = bench::RegGet(HKEY_CURRENT_USER, kTavlo, row.name);
    ASSERT_TRUE(v) << row.name;
    EXPECT_EQ(v->type, row.type) << row.name;
    EXPECT_EQ(v->bytes, row.bytes) << row.name;
  }
  EXPECT_TRUE(bench::RegKeyExists(HKEY_CURRENT_USER, "SOFTWARE\\Empty key"));
  EXPECT_TRUE(bench::RegKeyExists(HKEY_LOCAL_MACHINE, "Software\\Weird ]] [name\\\"q\"\\x=y"));
  EXPECT_EQ(bench::RegGetString(HKEY_CLASSES_ROOT, "", ""), "root default");
  HKEY wide;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"SOFTWARE\\Wide", 0, KEY_READ, &wide), ERROR_SUCCESS);
  DWORD got = 0, size = 4, type = 0;
  EXPECT_EQ(RegQueryValueExW(wide, oddName, nullptr, &type, (BYTE*)&got, &size), ERROR_SUCCESS);
  EXPECT_EQ(got, 1u);
  RegCloseKey(wide);
  HKEY odd;
  EXPECT_EQ(RegOpenKeyExW(HKEY_USERS, oddKey, 0, KEY_READ, &odd), ERROR_SUCCESS);
  RegCloseKey(odd);

  // And the text itself: saving what was loaded gives the same file, byte for byte.
  bench::RegSetDword(HKEY_CURRENT_USER, "SOFTWARE\\Empty key", "tmp", 1);
  ASSERT_NE(ReadText(file), first);
  bench::RegDeleteValue(HKEY_CURRENT_USER, "SOFTWARE\\Empty key", "tmp");
  EXPECT_EQ(ReadText(file), first);
}

TEST_F(SimRegFile, AFileTheDesktopEditorWroteLoads) {
  WriteText(file,
            "REGEDIT4\r\n"
            "\r\n"
            "; settings\r\n"
            "[HKEY_CURRENT_USER\\SOFTWARE\\Corvane\\Tavlo]\r\n"
            "\"Delay\"=dword:000001F4\r\n"
            "\"Rate\"=dword:1e\r\n"
            "@=\"caf\xe9\"\r\n"
            "\"Dir\"=hex(2):25,00,57,00,\\\r\n"
            "  49,00,\\\r\n"
            "  00,00\r\n"
            "\"Blob\"=hex:\r\n"
            "\r\n"
            "[HKEY_CURRENT_USER\\software\\corvane\\TAVLO]\n"  // the same key again, LF only
            "\"Delay\"=dword:00000064\n"
            "  \"Late\" =\"x\"\n");
  std::string before = ReadText(file);
  std::string error;
  EXPECT_FALSE(bench::UseRegistryFile(file, &error)) << "a space before = is not what the editor writes";
  EXPECT_EQ(error, file + ":15: expected = after the value name");
  std::string fixed = before;
  fixed.replace(fixed.find("\"Late\" ="), 8, "\"Late\"=");
  WriteText(file, fixed);
  ASSERT_TRUE(bench::UseRegistryFile(file, &error)) << error;
  EXPECT_EQ(bench::RegGetDword(HKEY_CURRENT_USER, kTavlo, "Delay"), 100u);
  EXPECT_EQ(bench::RegGetDword(HKEY_CURRENT_USER, kTavlo, "Rate"), 30u);
  EXPECT_EQ(bench::RegGetString(HKEY_CURRENT_USER, kTavlo, ""), "caf\xc3\xa9");
  EXPECT_EQ(bench::RegGetString(HKEY_CURRENT_USER, kTavlo, "Late"), "x");
  auto dir = bench::RegGet(HKEY_CURRENT_USER, kTavlo, "Dir");
  ASSERT_TRUE(dir);
  EXPECT_EQ(dir->type, (DWORD)REG_EXPAND_SZ);
  EXPECT_EQ(dir->bytes, Utf16(u"%WI"));
  auto blob = bench::RegGet(HKEY_CURRENT_USER, kTavlo, "Blob");
  ASSERT_TRUE(blob);
  EXPECT_EQ(blob->type, (DWORD)REG_BINARY);
  EXPECT_TRUE(blob->bytes.empty());
  EXPECT_EQ(ReadText(file), fixed) << "loading writes nothing";
}

TEST_F(SimRegFile, AMissingFileIsAnEmptyRegistry) {
  bench::RegSetDword(HKEY_CURRENT_USER, kTavlo, "Before", 1);
  std::string error = "x";
  ASSERT_TRUE(bench::UseRegistryFile(file, &error));
  EXPECT_EQ(error, "");
  EXPECT_FALSE(bench::RegKeyExists(HKEY_CURRENT_USER, "SOFTWARE"));
  EXPECT_FALSE(fs::exists(file));
  HKEY k;
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"SOFTWARE", 0, KEY_READ, &k), ERROR_FILE_NOT_FOUND);
}

TEST_F(SimRegFile, ResetSwitchesTheFileOff) {
  ASSERT_TRUE(bench::UseRegistryFile(file, nullptr));
  bench::RegSetDword(HKEY_CURRENT_USER, kTavlo, "A", 1);
  std::string saved = ReadText(file);
  ASSERT_TRUE(bench::Reset());
  bench::RegSetDword(HKEY_CURRENT_USER, kTavlo, "B", 2);
  EXPECT_EQ(ReadText(file), saved);
}

// ---- malformed files -----------------------------------------------------------

struct Malformed {
  const char* what;
  std::string text;
  int line;
  const char* why;
};

TEST_F(SimRegFile, AMalformedFileStopsTheLoadNamingTheLineAndStaysUntouched) {
  const std::string ok = "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\SOFTWARE\\Corvane\\Tavlo]\r\n";
  const std::vector<Malformed> table = {
      {"empty file", "", 1, "not a REGEDIT4 file"},
      {"other header", "REGEDIT5\r\n\r\n", 1, "not a REGEDIT4 file"},
      {"unicode editor header", "Windows Registry Editor Version 5.00\r\n", 1, "not a REGEDIT4 file"},
      {"header with more", "REGEDIT4 x\r\n", 1, "not a REGEDIT4 file"},
      {"value before any key", "REGEDIT4\r\n\r\n\"a\"=dword:00000001\r\n", 3, "a value before any key"},
      {"default before any key", "REGEDIT4\r\n@=\"x\"\r\n", 2, "a value before any key"},
      {"unknown root", "REGEDIT4\r\n\r\n[HKEY_NOWHERE\\X]\r\n", 3, "unknown root key \"HKEY_NOWHERE\""},
      {"short root", "REGEDIT4\r\n\r\n[HKCU\\X]\r\n", 3, "unknown root key"},
      {"no closing bracket", "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\X\r\n", 3, "bad key line"},
      {"empty key name", "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\\\X]\r\n", 3, "empty key name"},
      {"trailing backslash", "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\X\\]\r\n", 3, "empty key name"},
      {"key deletion", "REGEDIT4\r\n\r\n[-HKEY_CURRENT_USER\\X]\r\n", 3, "key deletion"},
      {"bad escape", ok + "\"a\"=\"x\\ny\"\r\n", 4, "bad escape \\n"},
      {"bad escape in name", ok + "\"a\\tb\"=dword:00000001\r\n", 4, "bad escape \\t"},
      {"unterminated string", ok + "\r\n\"a\"=\"abc\r\n", 5, "unterminated string"},
      {"unterminated name", ok + "\"abc", 4, "unterminated string"},
      {"string then text", ok + "\"a\"=\"x\" y\r\n", 4, "unexpected text after the value"},
      {"no equals", ok + "\"a\"\r\n", 4, "expected = after the value name"},
      {"value deletion", ok + "\"a\"=-\r\n", 4, "bad value data"},
      {"unknown data", ok + "\"a\"=qword:1\r\n", 4, "bad value data"},
      {"empty dword", ok + "\"a\"=dword:\r\n", 4, "bad dword"},
      {"long dword", ok + "\"a\"=dword:123456789\r\n", 4, "bad dword"},
      {"dword not hex", ok + "\"a\"=dword:12g\r\n", 4, "unexpected text after the value"},
      {"hex digit", ok + "\"a\"=hex:0g\r\n", 4, "bad hex byte"},
      {"one digit", ok + "\"a\"=hex:1,02\r\n", 4, "bad hex byte"},
      {"three digits", ok + "\"a\"=hex:012\r\n", 4, "bad hex byte"},
      {"double comma", ok + "\"a\"=hex:01,,02\r\n", 4, "bad hex byte"},
      {"trailing comma", ok + "\"a\"=hex:01,02,\r\n", 4, "hex byte list ends with a comma"},
      {"no separator", ok + "\"a\"=hex:01 02\r\n", 4, "bad hex byte list"},
      {"bad byte after continuation", ok + "\"a\"=hex:01,\\\r\n  02,\\\r\n  zz\r\n", 6, "bad hex byte"},
      {"continuation then text", ok + "\"a\"=hex:01,\\ 02\r\n", 4, "text after a line continuation"},
      {"continuation at the end", ok + "\"a\"=hex:01,\\\r\n", 5, "hex byte list ends with a comma"},
      {"bad hex type", ok + "\"a\"=hex(2x):00\r\n", 4, "bad hex(type)"},
      {"hex type without colon", ok + "\"a\"=hex(2)00\r\n", 4, "bad hex(type)"},
      {"empty hex type", ok + "\"a\"=hex():00\r\n", 4, "bad hex(type)"},
      {"bad line", ok + "\"a\"=dword:00000001\r\ngarbage\r\n", 5, "bad line"},
      {"line count after a string's line break", ok + "\"a\"=\"x\r\ny\"\r\n=\r\n", 6, "bad line"},
      {"LF line endings", "REGEDIT4\n\n[HKEY_USERS\\A]\n\"a\"=hex:zz\n", 4, "bad hex byte"},
  };
  for (auto& row : table) {
    SCOPED_TRACE(row.what);
    ASSERT_TRUE(bench::Reset());
    bench::RegSetDword(HKEY_CURRENT_USER, kTavlo, "Kept", 7);
    WriteText(file, row.text);
    // An old time stamp, so that a rewrite within the same second would still show.
    struct timespec times[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
    struct stat before;
    ASSERT_EQ(stat(file.c_str(), &before), 0);

    std::string error;
    EXPECT_FALSE(bench::UseRegistryFile(file, &error));
    EXPECT_EQ(error.rfind(file + ":" + std::to_string(row.line) + ": ", 0), 0u) << error;
    EXPECT_NE(error.find(row.why), std::string::npos) << error;

    // The registry is as it was and the file is off: a change does not touch the file.
    EXPECT_EQ(bench::RegGetDword(HKEY_CURRENT_USER, kTavlo, "Kept"), 7u);
    bench::RegSetDword(HKEY_CURRENT_USER, kTavlo, "After", 8);
    struct stat after;
    ASSERT_EQ(stat(file.c_str(), &after), 0);
    EXPECT_EQ(ReadText(file), row.text);
    EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(Names(dir), std::vector<std::string>{"registry.reg"});
  }
}

TEST_F(SimRegFile, AFileThatCannotBeReadStopsTheLoad) {
  fs::create_directory(file);  // a folder where the file should be
  std::string error;
  EXPECT_FALSE(bench::UseRegistryFile(file, &error));
  EXPECT_EQ(error, file + ": not a regular file");
}

// ---- saving --------------------------------------------------------------------

TEST_F(SimRegFile, SavesLeaveNoTemporaryFileAndReplaceTheFileWhole) {
  ASSERT_TRUE(bench::UseRegistryFile(file, nullptr));
  for (DWORD i = 0; i < 20; ++i) bench::RegSetDword(HKEY_CURRENT_USER, kTavlo, "V" + std::to_string(i), i);
  EXPECT_EQ(Names(dir), std::vector<std::string>{"registry.reg"});
  struct stat a, b;
  ASSERT_EQ(stat(file.c_str(), &a), 0);
  bench::RegSetDword(HKEY_CURRENT_USER, kTavlo, "V0", 100);
  ASSERT_EQ(stat(file.c_str(), &b), 0);
  EXPECT_NE(a.st_ino, b.st_ino) << "a new file renamed over the old one, never rewritten in place";
  EXPECT_EQ(Names(dir), std::vector<std::string>{"registry.reg"});
  Reload();
  EXPECT_EQ(bench::RegGetDword(HKEY_CURRENT_USER, kTavlo, "V0"), 100u);
  EXPECT_EQ(bench::RegGetDword(HKEY_CURRENT_USER, kTavlo, "V19"), 19u);
}

TEST_F(SimRegFile, AFailedSaveKeepsTheChangeAndWarnsOnce) {
  std::string sub = dir + "/gone";
  fs::create_directory(sub);
  file = sub + "/registry.reg";
  ASSERT_TRUE(bench::UseRegistryFile(file, nullptr));
  fs::remove(sub);  // the folder can no longer be written

  DWORD a = 1, b = 2;
  testing::internal::CaptureStderr();
  EXPECT_EQ(SetValue(L"SOFTWARE\\Corvane\\Tavlo", L"A", REG_DWORD, &a, 4), ERROR_SUCCESS);
  EXPECT_EQ(SetValue(L"SOFTWARE\\Corvane\\Tavlo", L"B", REG_DWORD, &b, 4), ERROR_SUCCESS);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(bench::RegistryFileError().find(sub), std::string::npos) << bench::RegistryFileError();
  size_t first = err.find("registry not saved");
  ASSERT_NE(first, std::string::npos) << err;
  EXPECT_EQ(err.find("registry not saved", first + 1), std::string::npos) << "one warning, not one per call";
  EXPECT_EQ(bench::RegGetDword(HKEY_CURRENT_USER, kTavlo, "A"), 1u);
  EXPECT_EQ(bench::RegGetDword(HKEY_CURRENT_USER, kTavlo, "B"), 2u);

  // Once the folder is back, the next change saves everything kept in memory.
  fs::create_directory(sub);
  bench::RegSetDword(HKEY_CURRENT_USER, kTavlo, "C", 3);
  EXPECT_EQ(bench::RegistryFileError(), "");
  EXPECT_EQ(Names(sub), std::vector<std::string>{"registry.reg"});
  Reload();
  EXPECT_EQ(bench::RegGetDword(HKEY_CURRENT_USER, kTavlo, "A"), 1u);
  EXPECT_EQ(bench::RegGetDword(HKEY_CURRENT_USER, kTavlo, "B"), 2u);
  EXPECT_EQ(bench::RegGetDword(HKEY_CURRENT_USER, kTavlo, "C"), 3u);

  // A new run of failures warns again.
  fs::remove_all(sub);
  testing::internal::CaptureStderr();
  bench::RegSetDword(HKEY_CURRENT_USER, kTavlo, "D", 4);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("registry not saved"), std::string::npos);
}

}  // namespace
