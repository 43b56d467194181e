// The sim's PE reader against damaged files, and the points where the sim's module
// and string calls are stricter than Wine. Every damaged file must be refused with
// ERROR_BAD_EXE_FORMAT and never read out of bounds (this runs under ASan too).
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "platform/sim/pe.h"
#include "platform/sim/res_internal.h"

namespace {

// RCDATA 200 of brindletest.dll, the library of test-only resources.
const uint8_t kRcData200[] = {0x01, 0x02, 0x03, 0x04, 0xFF, 0xFE, 0x80, 0x7F,
                              'b',  'r',  'i',  'n',  'd',  'l',  'e'};

std::string ExeDir() {
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return ".";
  std::string p(buf, static_cast<size_t>(n));
  return p.substr(0, p.rfind('/'));
}

std::vector<uint8_t> ReadAll(const std::string& path) {
  std::vector<uint8_t> out;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return out;
  uint8_t chunk[4096];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) out.insert(out.end(), chunk, chunk + n);
  std::fclose(f);
  return out;
}

std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

uint16_t Get16(const std::vector<uint8_t>& b, size_t o) { return static_cast<uint16_t>(b.at(o) | (b.at(o + 1) << 8)); }
uint32_t Get32(const std::vector<uint8_t>& b, size_t o) { return Get16(b, o) | (static_cast<uint32_t>(Get16(b, o + 2)) << 16); }
void Put16(std::vector<uint8_t>& b, size_t o, uint16_t v) {
  b.at(o) = static_cast<uint8_t>(v);
  b.at(o + 1) = static_cast<uint8_t>(v >> 8);
}
void Put32(std::vector<uint8_t>& b, size_t o, uint32_t v) {
  Put16(b, o, static_cast<uint16_t>(v));
  Put16(b, o + 2, static_cast<uint16_t>(v >> 16));
}

// Where things are in the good brindleres.dll, found independently of the reader.
struct Layout {
  size_t pe = 0, opt = 0, sections = 0, rsrcField = 0, rsrcSection = 0;
  uint32_t nsec = 0, rsrcVa = 0, rsrcRaw = 0;
  size_t root = 0;          // file offset of the root directory
  size_t stringType = 0;    // file offset of the root's entry for strings
  size_t rawType = 0;       // file offset of the root's entry for raw data
  size_t stringNames = 0;   // file offset of the string type's directory
  size_t block1Langs = 0;   // file offset of string block 1's language directory
  size_t block1Data = 0;    // file offset of block 1's data entry
  size_t block1Bytes = 0;   // file offset of block 1's text
};

size_t EntryFor(const std::vector<uint8_t>& b, size_t dir, uint16_t id) {
  size_t n = Get16(b, dir + 12) + Get16(b, dir + 14);
  for (size_t i = 0; i < n; ++i)
    if (Get32(b, dir + 16 + 8 * i) == id) return dir + 16 + 8 * i;
  return 0;
}

bool Locate(const std::vector<uint8_t>& b, Layout* l) {
  l->pe = Get32(b, 0x3C);
  l->nsec = Get16(b, l->pe + 6);
  l->opt = l->pe + 24;
  l->sections = l->opt + Get16(b, l->pe + 20);
  if (Get16(b, l->opt) != 0x20B) return false;
  l->rsrcField = l->opt + 112 + 2 * 8;
  uint32_t rva = Get32(b, l->rsrcField);
  for (uint32_t i = 0; i < l->nsec; ++i) {
    size_t s = l->sections + 40 * i;
    if (Get32(b, s + 12) == rva) {
      l->rsrcSection = s;
      l->rsrcVa = rva;
      l->rsrcRaw = Get32(b, s + 20);
    }
  }
  if (l->rsrcSection == 0) return false;
  l->root = l->rsrcRaw;
  l->stringType = EntryFor(b, l->root, 6);
  l->rawType = EntryFor(b, l->root, 10);
  if (l->stringType == 0 || l->rawType == 0) return false;
  l->stringNames = l->root + (Get32(b, l->stringType + 4) & 0x7FFFFFFF);
  size_t block1 = EntryFor(b, l->stringNames, 1);
  if (block1 == 0) return false;
  l->block1Langs = l->root + (Get32(b, block1 + 4) & 0x7FFFFFFF);
  l->block1Data = l->root + Get32(b, l->block1Langs + 16 + 4);
  l->block1Bytes = Get32(b, l->block1Data) - l->rsrcVa + l->rsrcRaw;
  return true;
}

class PeFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    good = ReadAll(ExeDir() + "/brindleres.dll");
    ASSERT_GT(good.size(), 512u) << "brindleres.dll beside the test program";
    ASSERT_TRUE(Locate(good, &layout));
    char tmpl[] = "/tmp/brindle-pe-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
    baseline = sim::LoadedModules();
  }
  void TearDown() override {
    EXPECT_EQ(sim::LoadedModules(), baseline) << "a module was left loaded";
    if (DIR* d = opendir(dir.c_str())) {
      while (dirent* e = readdir(d)) {
        std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        std::string path = dir + "/" + name;
        if (unlink(path.c_str()) != 0) rmdir(path.c_str());
      }
      closedir(d);
    }
    rmdir(dir.c_str());
  }

  std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) {
    std::string path = dir + "/" + name;
    FILE* f = std::fopen(path.c_str(), "wb");
    EXPECT_NE(f, nullptr);
    if (f != nullptr) {
      if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
      std::fclose(f);
    }
    return path;
  }

  // The file is refused by the parser and by LoadLibraryW, with the right error.
  void ExpectRefused(const std::vector<uint8_t>& bytes, const std::string& what) {
    sim::pe::Image img;
    EXPECT_FALSE(sim::pe::Parse(bytes, &img)) << what;
    std::string path = Write("bad.dll", bytes);
    SetLastError(0);
    HMODULE h = LoadLibraryW(Wide(path).c_str());
    EXPECT_EQ(h, nullptr) << what;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_EXE_FORMAT)) << what;
    if (h != nullptr) FreeLibrary(h);
  }

  std::vector<uint8_t> good;
  Layout layout;
  std::string dir;
  int baseline = 0;
};

TEST_F(PeFiles, TheGoodFileParses) {
  sim::pe::Image img;
  ASSERT_TRUE(sim::pe::Parse(good, &img));
  EXPECT_TRUE(img.hasResources);
  EXPECT_GE(img.types.size(), 4u);  // strings, dialogs, menu, raw data
  for (const sim::pe::Entry& e : img.entries) EXPECT_LE(static_cast<uint64_t>(e.offset) + e.size, good.size());
}

TEST_F(PeFiles, EveryTruncationIsRefused) {
  for (size_t len = 0; len < good.size(); ++len) {
    sim::pe::Image img;
    std::vector<uint8_t> cut(good.begin(), good.begin() + static_cast<long>(len));
    ASSERT_FALSE(sim::pe::Parse(cut, &img)) << "length " << len;
  }
  const size_t through[] = {0, 1, 2, 63, 64, layout.pe + 4, layout.sections, layout.rsrcRaw + 8,
                            layout.block1Bytes + 2, good.size() - 1};
  for (size_t len : through)
    ExpectRefused(std::vector<uint8_t>(good.begin(), good.begin() + static_cast<long>(len)),
                  "cut at " + std::to_string(len));
}

struct Damage {
  const char* what;
  std::function<void(std::vector<uint8_t>&, const Layout&)> apply;
};

TEST_F(PeFiles, DamagedFilesAreRefused) {
  const Damage damages[] = {
      {"no MZ", [](auto& b, auto&) { b[0] = 'X'; }},
      {"PE header beyond the file", [](auto& b, auto&) { Put32(b, 0x3C, 0xFFFFFFF0u); }},
      {"PE header at the very end", [](auto& b, auto&) { Put32(b, 0x3C, static_cast<uint32_t>(b.size() - 4)); }},
      {"no PE signature", [](auto& b, auto& l) { b[l.pe + 1] = 'X'; }},
      {"unknown optional header", [](auto& b, auto& l) { Put16(b, l.opt, 0x0107); }},
      {"optional header past the file", [](auto& b, auto& l) { Put16(b, l.pe + 20, 0xFFFF); }},
      {"optional header too short", [](auto& b, auto& l) { Put16(b, l.pe + 20, 16); }},
      {"no sections", [](auto& b, auto& l) { Put16(b, l.pe + 6, 0); }},
      {"section table past the file", [](auto& b, auto& l) { Put16(b, l.pe + 6, 0xFFFF); }},
      {"too many directories", [](auto& b, auto& l) { Put32(b, l.opt + 108, 0x7FFFFFFF); }},
      {"resources at an address no section holds", [](auto& b, auto& l) { Put32(b, l.rsrcField, 0x7FFF0000u); }},
      {"resource data past the file", [](auto& b, auto& l) { Put32(b, l.rsrcSection + 20, 0xFFFFFF00u); }},
      {"resource section longer than the file", [](auto& b, auto& l) { Put32(b, l.rsrcSection + 16, 0x7FFFFFFF); }},
      {"root lists more entries than fit", [](auto& b, auto& l) { Put16(b, l.root + 14, 0xFFFF); }},
      {"type points back to the root", [](auto& b, auto& l) { Put32(b, l.stringType + 4, 0x80000000u); }},
      {"name directory points to itself",
       [](auto& b, auto& l) { Put32(b, l.stringNames + 16 + 4, 0x80000000u | static_cast<uint32_t>(l.stringNames - l.root)); }},
      {"two types share one directory",
       [](auto& b, auto& l) { Put32(b, l.rawType + 4, Get32(b, l.stringType + 4)); }},
      {"language entry points to a directory", [](auto& b, auto& l) { Put32(b, l.block1Langs + 16 + 4, 0x80000000u); }},
      {"type entry points to data", [](auto& b, auto& l) { Put32(b, l.stringType + 4, Get32(b, l.stringType + 4) & 0x7FFFFFFF); }},
      {"subdirectory past the section", [](auto& b, auto& l) { Put32(b, l.stringType + 4, 0x8FFFFFF0u); }},
      {"data entry past the section", [](auto& b, auto& l) { Put32(b, l.block1Langs + 16 + 4, 0x0FFFFFF0u); }},
      {"data at an address no section holds", [](auto& b, auto& l) { Put32(b, l.block1Data, 0x00F00000u); }},
      {"data longer than its section", [](auto& b, auto& l) { Put32(b, l.block1Data + 4, 0x00100000u); }},
      {"data size wraps around", [](auto& b, auto& l) { Put32(b, l.block1Data + 4, 0xFFFFFFFFu); }},
      {"name string past the section", [](auto& b, auto& l) { Put32(b, l.stringType, 0x8FFFFFF0u); }},
      {"name id wider than 16 bits", [](auto& b, auto& l) { Put32(b, l.stringType, 0x00012345u); }},
      {"string longer than its block", [](auto& b, auto& l) { Put16(b, l.block1Bytes, 0xFFFF); }},
      {"block shorter than its strings",
       [](auto& b, auto& l) { Put32(b, l.block1Data + 4, Get32(b, l.block1Data + 4) - 3); }},
  };
  for (const Damage& d : damages) {
    std::vector<uint8_t> bytes = good;
    d.apply(bytes, layout);
    ExpectRefused(bytes, d.what);
  }
}

TEST_F(PeFiles, OtherFilesThatAreNoLibraries) {
  ExpectRefused({}, "empty file");
  ExpectRefused(std::vector<uint8_t>(100, 'M'), "text");
  std::vector<uint8_t> mz(64, 0);
  mz[0] = 'M';
  mz[1] = 'Z';
  ExpectRefused(mz, "bare DOS header");
  ASSERT_EQ(mkdir((dir + "/folder.dll").c_str(), 0700), 0);
  SetLastError(0);
  EXPECT_EQ(LoadLibraryW(Wide(dir + "/folder.dll").c_str()), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
}

// Random damage inside the resource tree: whatever the parser accepts must index
// only bytes of the file, and every lookup on it must stay inside them.
TEST_F(PeFiles, RandomDamageNeverEscapesTheFile) {
  uint32_t lcg = 12345;
  auto next = [&lcg] {
    lcg = lcg * 1103515245u + 12345u;
    return lcg >> 8;
  };
  const size_t span = good.size() - layout.rsrcRaw;
  int accepted = 0;
  for (int round = 0; round < 3000; ++round) {
    std::vector<uint8_t> bytes = good;
    int flips = 1 + static_cast<int>(next() % 4);
    for (int i = 0; i < flips; ++i) bytes[layout.rsrcRaw + next() % span] = static_cast<uint8_t>(next());
    sim::pe::Image img;
    if (!sim::pe::Parse(bytes, &img)) continue;
    ++accepted;
    for (const sim::pe::Entry& e : img.entries)
      ASSERT_LE(static_cast<uint64_t>(e.offset) + e.size, bytes.size()) << "round " << round;
    if (round % 20 != 0) continue;
    HMODULE h = LoadLibraryW(Wide(Write("fuzz" + std::to_string(round) + ".dll", bytes)).c_str());
    ASSERT_NE(h, nullptr) << "round " << round;
    WCHAR buf[300];
    for (UINT id = 0; id < 128; ++id) {
      int n = LoadStringW(h, id, buf, 300);
      ASSERT_GE(n, 0);
      ASSERT_LT(n, 300);
      ASSERT_EQ(buf[n], L'\0');
    }
    HRSRC r = FindResourceW(h, MAKEINTRESOURCEW(131), RT_RCDATA);
    if (r != nullptr) {
      DWORD size = SizeofResource(h, r);
      const uint8_t* p = static_cast<const uint8_t*>(LockResource(LoadResource(h, r)));
      ASSERT_NE(p, nullptr);
      unsigned sum = 0;
      for (DWORD i = 0; i < size; ++i) sum += p[i];
      (void)sum;
    }
    EXPECT_TRUE(FreeLibrary(h));
  }
  EXPECT_GT(accepted, 0) << "some damage (in padding, in text) leaves a usable file";
}

TEST_F(PeFiles, ALibraryWithoutResources) {
  std::vector<uint8_t> bytes = good;
  Put32(bytes, layout.rsrcField, 0);
  Put32(bytes, layout.rsrcField + 4, 0);
  HMODULE h = LoadLibraryW(Wide(Write("plain.dll", bytes)).c_str());
  ASSERT_NE(h, nullptr) << GetLastError();
  SetLastError(0);
  EXPECT_EQ(FindResourceW(h, MAKEINTRESOURCEW(131), RT_RCDATA), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_DATA_NOT_FOUND));
  WCHAR buf[8] = {L'#'};
  EXPECT_EQ(LoadStringW(h, 1, buf, 8), 0);
  EXPECT_EQ(buf[0], L'\0');
  EXPECT_TRUE(FreeLibrary(h));
}

INT_PTR CALLBACK EndingDlgProc(HWND hwnd, UINT msg, WPARAM, LPARAM) {
  if (msg == WM_INITDIALOG) EndDialog(hwnd, 7);
  return FALSE;
}

// A dialog template carries no size: one in a damaged library must be read no further
// than its resource. Found by fuzz_pe, where such a template ran past the file.
TEST_F(PeFiles, ADialogTemplateRunningPastItsResourceIsRefused) {
  sim::pe::Image img;
  ASSERT_TRUE(sim::pe::Parse(good, &img));
  const sim::pe::Entry* about = nullptr;
  for (const auto& type : img.types)
    if (type.key.id == 5)
      for (const auto& name : type.names)
        if (name.key.id == 104) about = sim::pe::PickLanguage(img, name);
  ASSERT_NE(about, nullptr) << "the About box's template";
  ASSERT_GT(about->size, 24u);
  ASSERT_EQ(Get16(good, about->offset + 18), 0) << "no menu";
  ASSERT_EQ(Get16(good, about->offset + 20), 0) << "no class";
  struct Row {
    const char* what;
    std::function<void(std::vector<uint8_t>&)> damage;
  };
  const Row rows[] = {
      {"a title that never ends",
       [&](std::vector<uint8_t>& b) {
         for (size_t o = about->offset + 22; o + 1 < about->offset + about->size; o += 2) Put16(b, o, 'A');
       }},
      {"more controls than there are", [&](std::vector<uint8_t>& b) { Put16(b, about->offset + 8, 0xFFFF); }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    std::vector<uint8_t> bytes = good;
    row.damage(bytes);
    HMODULE h = LoadLibraryW(Wide(Write("about.dll", bytes)).c_str());
    ASSERT_NE(h, nullptr) << GetLastError();
    HRSRC r = FindResourceW(h, MAKEINTRESOURCEW(104), RT_DIALOG);
    ASSERT_NE(r, nullptr);
    auto tmpl = static_cast<LPCDLGTEMPLATEW>(LockResource(LoadResource(h, r)));
    SetLastError(0);
    HWND dialog = CreateDialogIndirectParamW(h, tmpl, nullptr, EndingDlgProc, 0);
    EXPECT_EQ(dialog, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    if (dialog != nullptr) DestroyWindow(dialog);
    EXPECT_EQ(DialogBoxIndirectParamW(h, tmpl, nullptr, EndingDlgProc, 0), -1);
    EXPECT_TRUE(FreeLibrary(h));
  }
  // The good template still makes the box.
  HMODULE h = LoadLibraryW(Wide(Write("about.dll", good)).c_str());
  ASSERT_NE(h, nullptr);
  auto tmpl = static_cast<LPCDLGTEMPLATEW>(
      LockResource(LoadResource(h, FindResourceW(h, MAKEINTRESOURCEW(104), RT_DIALOG))));
  EXPECT_EQ(DialogBoxIndirectParamW(h, tmpl, nullptr, EndingDlgProc, 0), 7);
  EXPECT_TRUE(FreeLibrary(h));
}

TEST_F(PeFiles, NamesAndPaths) {
  HMODULE h = LoadLibraryW(L"brindleres.dll");
  ASSERT_NE(h, nullptr);
  std::string exeDir = ExeDir();
  std::string backslashed = exeDir;
  for (char& c : backslashed)
    if (c == '/') c = '\\';
  const std::wstring same[] = {Wide(exeDir + "/brindleres.dll"), Wide(backslashed + "\\brindleres.dll"),
                               Wide(exeDir + "/BrindleRes.DLL"), L"brindleres", L"brindleres.dll."};
  for (const std::wstring& name : same) {
    HMODULE again = LoadLibraryW(name.c_str());
    EXPECT_EQ(again, h) << std::string(name.begin(), name.end());
    if (again != nullptr) FreeLibrary(again);
  }
  // A copy under another name is another module.
  std::string copy = Write("Mixed.DLL", good);
  HMODULE other = LoadLibraryW(Wide(dir + "/mixed.dll").c_str());
  ASSERT_NE(other, nullptr);
  EXPECT_NE(other, h);
  EXPECT_EQ(GetModuleHandleW(Wide(copy).c_str()), other);
  EXPECT_EQ(GetModuleHandleW(L"MIXED"), other);
  EXPECT_TRUE(FreeLibrary(other));

  const std::wstring missing[] = {L"", L"brindleres.exe", Wide(dir + "/brindleres.dll"), L"nowhere\\brindleres.dll"};
  for (const std::wstring& name : missing) {
    SetLastError(0);
    EXPECT_EQ(LoadLibraryW(name.c_str()), nullptr) << std::string(name.begin(), name.end());
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  }
  SetLastError(0);
  EXPECT_EQ(LoadLibraryW(nullptr), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_TRUE(FreeLibrary(h));
}

// A bare name is looked for beside the program first, then in the current directory.
TEST_F(PeFiles, SearchOrder) {
  char cwd[PATH_MAX];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  Write("brindleres.dll", std::vector<uint8_t>(100, 'x'));
  Write("onlyhere.dll", good);
  ASSERT_EQ(chdir(dir.c_str()), 0);
  HMODULE beside = LoadLibraryW(L"brindleres.dll");
  HMODULE here = LoadLibraryW(L"onlyhere.dll");
  ASSERT_EQ(chdir(cwd), 0);
  ASSERT_NE(beside, nullptr) << "the copy beside the program wins over the damaged one here";
  ASSERT_NE(here, nullptr) << GetLastError();
  EXPECT_NE(beside, here);
  WCHAR buf[16];
  EXPECT_EQ(LoadStringW(beside, 20, buf, 16), 3);
  EXPECT_EQ(LoadStringW(here, 20, buf, 16), 3);
  EXPECT_TRUE(FreeLibrary(beside));
  EXPECT_TRUE(FreeLibrary(here));
}

TEST_F(PeFiles, ReferenceCounting) {
  HMODULE a = LoadLibraryW(L"brindleres.dll");
  HMODULE b = LoadLibraryW(L"brindleres.dll");
  HMODULE c = LoadLibraryW(L"brindleres.dll");
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a, b);
  EXPECT_EQ(a, c);
  EXPECT_EQ(sim::LoadedModules(), baseline + 1);
  EXPECT_TRUE(FreeLibrary(a));
  EXPECT_TRUE(FreeLibrary(a));
  EXPECT_EQ(GetModuleHandleW(L"brindleres.dll"), a);
  EXPECT_TRUE(FreeLibrary(a));
  EXPECT_EQ(sim::LoadedModules(), baseline);
  SetLastError(0);
  EXPECT_FALSE(FreeLibrary(a));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

class SimStrings : public ::testing::Test {
 protected:
  void SetUp() override {
    dll = LoadLibraryW(L"brindleres.dll");
    ASSERT_NE(dll, nullptr);
    test = LoadLibraryW(L"brindletest.dll");
    ASSERT_NE(test, nullptr);
  }
  void TearDown() override {
    if (dll != nullptr) {
      EXPECT_TRUE(FreeLibrary(dll));
    }
    if (test != nullptr) {
      EXPECT_TRUE(FreeLibrary(test));
    }
  }
  HMODULE dll = nullptr;
  HMODULE test = nullptr;  // brindletest.dll
};

TEST_F(SimStrings, SurrogatePairsBecomeOneCharacter) {
  WCHAR buf[32];
  ASSERT_EQ(LoadStringW(test, 31, buf, 32), 11);
  EXPECT_EQ(static_cast<uint32_t>(buf[5]), 0x1F600u);
  EXPECT_EQ(buf[6], L' ');
  ASSERT_EQ(LoadStringW(test, 31, buf, 7), 6) << "the pair counts as one";
  EXPECT_EQ(static_cast<uint32_t>(buf[5]), 0x1F600u);
  EXPECT_EQ(buf[6], L'\0');
}

TEST_F(SimStrings, BufferEdgeCases) {
  WCHAR buf[4] = {L'#', L'#', L'#', L'#'};
  EXPECT_EQ(LoadStringW(dll, 9, buf, 0), 0);
  EXPECT_EQ(buf[0], L'#') << "no pointer form: the buffer is left alone";
  EXPECT_EQ(LoadStringW(dll, 9, buf, -5), 0);
  EXPECT_EQ(buf[0], L'#');
  EXPECT_EQ(LoadStringW(dll, 9, buf, 1), 0);
  EXPECT_EQ(buf[0], L'\0') << "always terminated";
  EXPECT_EQ(buf[1], L'#');
  SetLastError(0);
  EXPECT_EQ(LoadStringW(dll, 9, nullptr, 10), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(SimStrings, MissingStringsLeaveAnEmptyBufferAndSayWhy) {
  const UINT missing[] = {6, 48, 4000, 65535, 70000};
  for (UINT id : missing) {
    WCHAR buf[4] = {L'#', L'#', L'#', L'#'};
    SetLastError(0);
    EXPECT_EQ(LoadStringW(dll, id, buf, 4), 0) << id;
    EXPECT_EQ(buf[0], L'\0') << id;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND)) << id;
  }
}

TEST_F(SimStrings, BadHandles) {
  HMODULE bogus = reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x12340000));
  WCHAR buf[8];
  SetLastError(0);
  EXPECT_FALSE(FreeLibrary(bogus));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(FreeLibrary(nullptr));
  EXPECT_EQ(FindResourceW(bogus, MAKEINTRESOURCEW(200), RT_RCDATA), nullptr);
  EXPECT_EQ(LoadStringW(bogus, 1, buf, 8), 0);
  EXPECT_EQ(buf[0], L'\0');
  HRSRC notOurs = reinterpret_cast<HRSRC>(buf);
  EXPECT_EQ(LoadResource(dll, notOurs), nullptr);
  EXPECT_EQ(SizeofResource(dll, notOurs), 0u);
  EXPECT_EQ(LoadResource(dll, nullptr), nullptr);
  EXPECT_EQ(LockResource(nullptr), nullptr);
  HRSRC r = FindResourceW(test, MAKEINTRESOURCEW(200), RT_RCDATA);
  ASSERT_NE(r, nullptr);
  HRSRC inside = reinterpret_cast<HRSRC>(reinterpret_cast<uintptr_t>(r) + 1);
  EXPECT_EQ(LoadResource(dll, inside), nullptr) << "a pointer into an entry is no entry";
  EXPECT_EQ(LoadResource(bogus, r), nullptr);
}

TEST_F(SimStrings, RawBytesForOtherParts) {
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(sim::ResourceBytes(test, RT_RCDATA, MAKEINTRESOURCEW(200), &bytes));
  EXPECT_EQ(bytes, std::vector<uint8_t>(kRcData200, kRcData200 + sizeof kRcData200));
  const uint8_t* data = nullptr;
  DWORD size = 0;
  ASSERT_TRUE(sim::ResourceData(test, L"BRINDLEDATA", L"#201", &data, &size));
  ASSERT_EQ(size, 2u);
  EXPECT_EQ(data[0], 0x0A);
  SetLastError(0);
  EXPECT_FALSE(sim::ResourceBytes(test, RT_RCDATA, MAKEINTRESOURCEW(7), &bytes));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
  EXPECT_FALSE(sim::ResourceBytes(dll, RT_ICON, L"#0", &bytes));  // icons live in the program
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_TYPE_NOT_FOUND));
}

TEST_F(SimStrings, TheProgramModule) {
  const std::wstring before = sim::ProgramResources();
  ASSERT_TRUE(sim::SetProgramResources(nullptr));
  EXPECT_EQ(sim::ProgramResources(), L"");
  HMODULE self = GetModuleHandleW(nullptr);
  ASSERT_EQ(self, sim::ProgramModule());
  WCHAR buf[32];
  SetLastError(0);
  EXPECT_EQ(FindResourceW(nullptr, MAKEINTRESOURCEW(131), RT_RCDATA), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_DATA_NOT_FOUND));
  EXPECT_EQ(LoadStringW(self, 1, buf, 32), 0);

  ASSERT_TRUE(sim::SetProgramResources(L"brindleres.dll"));
  EXPECT_EQ(sim::ProgramResources(), L"brindleres.dll");
  EXPECT_EQ(LoadStringW(self, 1, buf, 32), 11);
  EXPECT_EQ(0, wcscmp(buf, L"BrindleMain"));
  EXPECT_EQ(LoadStringW(nullptr, 2, buf, 32), 8);
  // The menu bar's raw data: the program's copy has the library's bytes.
  HRSRC r = FindResourceW(nullptr, MAKEINTRESOURCEW(131), RT_RCDATA);
  ASSERT_NE(r, nullptr);
  HRSRC theirs = FindResourceW(dll, MAKEINTRESOURCEW(131), RT_RCDATA);
  ASSERT_NE(theirs, nullptr);
  ASSERT_EQ(SizeofResource(nullptr, r), SizeofResource(dll, theirs));
  EXPECT_EQ(0, memcmp(LockResource(LoadResource(nullptr, r)), LockResource(LoadResource(dll, theirs)),
                      SizeofResource(dll, theirs)));
  EXPECT_NE(r, theirs) << "the program's copy is its own";

  SetLastError(0);
  EXPECT_FALSE(sim::SetProgramResources(L"no_such_file.dll"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  EXPECT_EQ(LoadStringW(self, 20, buf, 32), 3) << "a failed change keeps what was there";
  EXPECT_TRUE(FreeLibrary(self)) << "the program is never unloaded";
  EXPECT_EQ(LoadStringW(self, 20, buf, 32), 3);

  ASSERT_TRUE(sim::SetProgramResources(nullptr));
  EXPECT_EQ(LoadStringW(self, 1, buf, 32), 0);

  // Others in this program may rely on what was set before.
  EXPECT_TRUE(sim::SetProgramResources(before.empty() ? nullptr : before.c_str()));
}

// Loads, lookups and frees from several threads at once keep the count right.
// brindletest.dll: nothing else in this program keeps it loaded.
TEST(SimModules, ConcurrentUse) {
  const int baseline = sim::LoadedModules();
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&wrong] {
      for (int i = 0; i < 200; ++i) {
        HMODULE h = LoadLibraryW(L"brindletest.dll");
        if (h == nullptr) {
          ++wrong;
          continue;
        }
        WCHAR buf[64];
        if (LoadStringW(h, 100, buf, 64) != 40 || wcscmp(buf, L"Keyboard driver for the folding keyboard") != 0)
          ++wrong;
        HRSRC r = FindResourceW(h, MAKEINTRESOURCEW(200), RT_RCDATA);
        if (r == nullptr || SizeofResource(h, r) != sizeof kRcData200) ++wrong;
        if (!FreeLibrary(h)) ++wrong;
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_EQ(sim::LoadedModules(), baseline);
  EXPECT_EQ(GetModuleHandleW(L"brindletest.dll"), nullptr);
}

}  // namespace
