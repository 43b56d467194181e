// Modules and resources: brindleres.dll loaded by name, its strings and lookup
// failures; brindletest.dll, which only the tests use, for raw data, names, a type of
// our own and non-ASCII text. Both libraries sit beside this program.
#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>

#include "platform/platform.h"

namespace {

struct StringCase {
  UINT id;
  const wchar_t* text;
};

const StringCase kStrings[] = {
    {1, L"BrindleMain"},
    {2, L"Keyboard"},
    {3, L"BrindlePicker"},
    {4, L"Special Characters"},
    {5, L"Exit the keyboard driver? Typing on the keyboard stops until it is started again."},
    {9, L"Running"},
    {10, L"Stopped"},
    {11, L"Paused"},
    {12, L"Tools"},
    {20, L"USA"},
};

const StringCase kTestStrings[] = {
    {30, L"Caf\u00e9 au lait: 3,50 \u20ac"},
    // Outside the 16-bit range: a surrogate pair in the file. Windows hands it out as
    // two units and the sim as one character; both equal the literal.
    {31, L"Grin \U0001F600 wide"},
    {100, L"Keyboard driver for the folding keyboard"},  // another block of sixteen
};

const BYTE kRcData200[] = {0x01, 0x02, 0x03, 0x04, 0xFF, 0xFE, 0x80, 0x7F,
                           'b',  'r',  'i',  'n',  'd',  'l',  'e'};

class Resources : public ::testing::Test {
 protected:
  void SetUp() override {
    dll = LoadLibraryW(L"brindleres.dll");
    ASSERT_NE(dll, nullptr) << "error " << GetLastError();
    test = LoadLibraryW(L"brindletest.dll");
    ASSERT_NE(test, nullptr) << "error " << GetLastError();
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
  HMODULE test = nullptr;
};

void ExpectStrings(HMODULE module, const StringCase* cases, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    WCHAR buf[260];
    int n = LoadStringW(module, cases[i].id, buf, 260);
    EXPECT_EQ(n, static_cast<int>(wcslen(cases[i].text))) << "id " << cases[i].id;
    EXPECT_EQ(0, wcscmp(buf, cases[i].text)) << "id " << cases[i].id;
  }
}

TEST_F(Resources, EveryStringHasItsTextAndLength) {
  ExpectStrings(dll, kStrings, sizeof kStrings / sizeof kStrings[0]);
  ExpectStrings(test, kTestStrings, sizeof kTestStrings / sizeof kTestStrings[0]);
}

// The shipped library holds what the program uses and nothing the tests brought.
TEST_F(Resources, TheShippedLibraryHasNoTestData) {
  const UINT testStrings[] = {30, 31, 100};
  for (UINT id : testStrings) {
    WCHAR buf[8] = {L'#'};
    EXPECT_EQ(LoadStringW(dll, id, buf, 8), 0) << "id " << id;
  }
  EXPECT_EQ(FindResourceW(dll, MAKEINTRESOURCEW(200), RT_RCDATA), nullptr);
  EXPECT_EQ(FindResourceW(dll, L"Pattern", RT_RCDATA), nullptr);
  EXPECT_EQ(FindResourceW(dll, MAKEINTRESOURCEW(201), L"BrindleData"), nullptr);
  const UINT programStrings[] = {1, 9, 20};
  for (UINT id : programStrings) {
    WCHAR buf[8] = {L'#'};
    EXPECT_EQ(LoadStringW(test, id, buf, 8), 0) << "id " << id;
  }
}

TEST_F(Resources, NonAsciiTextIsWidened) {
  WCHAR buf[64];
  ASSERT_EQ(LoadStringW(test, 30, buf, 64), 20);
  EXPECT_EQ(buf[3], static_cast<WCHAR>(0x00E9));
  EXPECT_EQ(buf[19], static_cast<WCHAR>(0x20AC));
}

// A buffer of one holds only the terminator: nothing is copied. (Wine leaves such a
// buffer untouched where the sim writes the terminator; that is checked on the host.)
TEST_F(Resources, TruncatesToOneLessThanTheBuffer) {
  const wchar_t* full = L"Running";
  for (int max = 2; max <= 9; ++max) {
    WCHAR buf[16];
    for (WCHAR& w : buf) w = L'#';
    int n = LoadStringW(dll, 9, buf, max);
    int want = max - 1 < 7 ? max - 1 : 7;
    EXPECT_EQ(n, want) << "max " << max;
    EXPECT_EQ(0, wcsncmp(buf, full, static_cast<size_t>(want))) << "max " << max;
    EXPECT_EQ(buf[want], L'\0') << "max " << max;
    for (int i = want + 1; i < 16; ++i) EXPECT_EQ(buf[i], L'#') << "max " << max << " wrote at " << i;
  }
  WCHAR one[2] = {L'#', L'#'};
  EXPECT_EQ(LoadStringW(dll, 9, one, 1), 0);
  EXPECT_EQ(one[1], L'#');
}

TEST_F(Resources, MissingStringGivesZeroAndAnEmptyBuffer) {
  // Each shares its block of sixteen with strings that exist.
  struct Missing {
    HMODULE module;
    UINT id;
  };
  const Missing missing[] = {{dll, 0}, {dll, 6}, {dll, 13}, {dll, 19}, {dll, 21},
                             {test, 29}, {test, 99}, {test, 101}};
  for (const Missing& m : missing) {
    WCHAR buf[8];
    for (WCHAR& w : buf) w = L'#';
    EXPECT_EQ(LoadStringW(m.module, m.id, buf, 8), 0) << "id " << m.id;
    EXPECT_EQ(buf[0], L'\0') << "id " << m.id;
  }
}

// Whole blocks missing. Wine returns without touching the buffer; the sim's empty
// string there is checked on the host.
TEST_F(Resources, MissingBlockGivesZero) {
  const UINT missing[] = {48, 100, 4000, 65535};
  for (UINT id : missing) {
    WCHAR buf[8] = {L'#'};
    EXPECT_EQ(LoadStringW(dll, id, buf, 8), 0) << "id " << id;
  }
}

TEST_F(Resources, RawDataByNumber) {
  HRSRC r = FindResourceW(test, MAKEINTRESOURCEW(200), RT_RCDATA);
  ASSERT_NE(r, nullptr) << "error " << GetLastError();
  EXPECT_EQ(SizeofResource(test, r), sizeof kRcData200);
  HGLOBAL g = LoadResource(test, r);
  ASSERT_NE(g, nullptr);
  const void* p = LockResource(g);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(0, memcmp(p, kRcData200, sizeof kRcData200));
}

TEST_F(Resources, NumbersWrittenAsStrings) {
  HRSRC byId = FindResourceW(test, MAKEINTRESOURCEW(200), RT_RCDATA);
  ASSERT_NE(byId, nullptr);
  EXPECT_EQ(FindResourceW(test, L"#200", RT_RCDATA), byId);
  EXPECT_EQ(FindResourceW(test, L"#200", L"#10"), byId);
}

TEST_F(Resources, NamesCompareWithoutCase) {
  const wchar_t* spellings[] = {L"Pattern", L"PATTERN", L"pattern", L"pAtTeRn"};
  for (const wchar_t* name : spellings) {
    HRSRC r = FindResourceW(test, name, RT_RCDATA);
    ASSERT_NE(r, nullptr) << "error " << GetLastError();
    EXPECT_EQ(SizeofResource(test, r), 5u);
    EXPECT_EQ(0, memcmp(LockResource(LoadResource(test, r)), "named", 5));
  }
  HRSRC own = FindResourceW(test, MAKEINTRESOURCEW(201), L"brindledata");
  ASSERT_NE(own, nullptr) << "error " << GetLastError();
  ASSERT_EQ(SizeofResource(test, own), 2u);
  const BYTE* b = static_cast<const BYTE*>(LockResource(LoadResource(test, own)));
  EXPECT_EQ(b[0], 0x0A);
  EXPECT_EQ(b[1], 0x0B);
}

TEST_F(Resources, MissingNameOrType) {
  SetLastError(0);
  EXPECT_EQ(FindResourceW(test, MAKEINTRESOURCEW(199), RT_RCDATA), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
  SetLastError(0);
  EXPECT_EQ(FindResourceW(test, L"NoSuchName", RT_RCDATA), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
  SetLastError(0);
  EXPECT_EQ(FindResourceW(test, MAKEINTRESOURCEW(200), MAKEINTRESOURCEW(4242)), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_TYPE_NOT_FOUND));
  SetLastError(0);
  EXPECT_EQ(FindResourceW(test, MAKEINTRESOURCEW(200), L"NoSuchType"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_TYPE_NOT_FOUND));
}

TEST_F(Resources, SecondLoadSharesTheModule) {
  HMODULE again = LoadLibraryW(L"brindleres.dll");
  EXPECT_EQ(again, dll);
  HMODULE upper = LoadLibraryW(L"BRINDLERES.DLL");
  EXPECT_EQ(upper, dll);
  EXPECT_EQ(GetModuleHandleW(L"brindleres.dll"), dll);
  EXPECT_EQ(GetModuleHandleW(L"BrindleRes"), dll) << "no extension means .dll";
  EXPECT_TRUE(FreeLibrary(upper));
  EXPECT_TRUE(FreeLibrary(again));
  // Still loaded once: the fixture's reference.
  WCHAR buf[16];
  EXPECT_EQ(LoadStringW(dll, 20, buf, 16), 3);
  EXPECT_EQ(GetModuleHandleW(L"brindleres.dll"), dll);
}

TEST(Modules, LastFreeUnloads) {
  HMODULE h = LoadLibraryW(L"brindleres.dll");
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(GetModuleHandleW(L"brindleres.dll"), h);
  EXPECT_TRUE(FreeLibrary(h));
  SetLastError(0);
  EXPECT_EQ(GetModuleHandleW(L"brindleres.dll"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
}

TEST(Modules, MissingLibrary) {
  SetLastError(0);
  EXPECT_EQ(LoadLibraryW(L"no_such_library.dll"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
}

TEST(Modules, TheProgramHasAHandle) { EXPECT_NE(GetModuleHandleW(nullptr), nullptr); }

}  // namespace
