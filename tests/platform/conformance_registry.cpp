// The registry's return codes and sizes, which the settings store and the installer
// decide on: a missing key or value, a value too long for its buffer, a new key path.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/platform.h"

namespace {

const WCHAR kRoot[] = L"Software\\BrindleConformance";
const WCHAR kSub[] = L"Software\\BrindleConformance\\Tavlo";

class Registry : public ::testing::Test {
 protected:
  void TearDown() override {
    // Leaf first: desktop Windows deletes only keys without subkeys.
    RegDeleteKeyW(HKEY_CURRENT_USER, kSub);
    RegDeleteKeyW(HKEY_CURRENT_USER, kRoot);
  }
};

TEST_F(Registry, CreatingAPathMakesEveryLevelAndTellsNewFromExisting) {
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, kSub, 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
  DWORD disposition = 0;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kSub, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                            &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, (DWORD)REG_CREATED_NEW_KEY);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kSub, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                            &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, (DWORD)REG_OPENED_EXISTING_KEY);
  RegCloseKey(key);
  // Key names ignore letter case.
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"SOFTWARE\\brindleconformance\\TAVLO", 0, KEY_READ, &key),
            ERROR_SUCCESS);
  RegCloseKey(key);
}

TEST_F(Registry, DwordValuesAndWhatAShortBufferOrAMissingValueGives) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kSub, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  DWORD v = 500;
  ASSERT_EQ(RegSetValueExW(key, L"InitialDelay", 0, REG_DWORD, (const BYTE*)&v, sizeof v), ERROR_SUCCESS);
  BYTE eight[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  ASSERT_EQ(RegSetValueExW(key, L"Long", 0, REG_BINARY, eight, sizeof eight), ERROR_SUCCESS);

  DWORD out = 0, type = 0, size = sizeof out;
  EXPECT_EQ(RegQueryValueExW(key, L"InitialDelay", nullptr, &type, (LPBYTE)&out, &size), ERROR_SUCCESS);
  EXPECT_EQ(out, 500u);
  EXPECT_EQ(type, (DWORD)REG_DWORD);
  EXPECT_EQ(size, 4u);
  // Value names ignore case too.
  out = 0;
  size = sizeof out;
  EXPECT_EQ(RegQueryValueExW(key, L"initialdelay", nullptr, nullptr, (LPBYTE)&out, &size), ERROR_SUCCESS);
  EXPECT_EQ(out, 500u);

  size = 2;
  EXPECT_EQ(RegQueryValueExW(key, L"InitialDelay", nullptr, nullptr, (LPBYTE)&out, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 4u);
  size = sizeof out;  // a value longer than 4 bytes does not fit a 32-bit setting
  EXPECT_EQ(RegQueryValueExW(key, L"Long", nullptr, nullptr, (LPBYTE)&out, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 8u);
  size = 0;
  EXPECT_EQ(RegQueryValueExW(key, L"Long", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 8u);
  EXPECT_EQ(type, (DWORD)REG_BINARY);
  size = sizeof out;
  EXPECT_EQ(RegQueryValueExW(key, L"Missing", nullptr, nullptr, (LPBYTE)&out, &size), ERROR_FILE_NOT_FOUND);

  // Overwriting keeps one value.
  v = 250;
  ASSERT_EQ(RegSetValueExW(key, L"InitialDelay", 0, REG_DWORD, (const BYTE*)&v, sizeof v), ERROR_SUCCESS);
  size = sizeof out;
  EXPECT_EQ(RegQueryValueExW(key, L"InitialDelay", nullptr, nullptr, (LPBYTE)&out, &size), ERROR_SUCCESS);
  EXPECT_EQ(out, 250u);
  EXPECT_EQ(RegDeleteValueW(key, L"InitialDelay"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueW(key, L"InitialDelay"), ERROR_FILE_NOT_FOUND);
  RegDeleteValueW(key, L"Long");
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(Registry, AnsiStringsReadBackWithTheirTerminator) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\BrindleConformance\\Tavlo", 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  const char path[] = "C:\\Program Files\\Sync";
  ASSERT_EQ(RegSetValueExA(key, "InstalledDir", 0, REG_SZ, (const BYTE*)path, sizeof path), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(key, nullptr, 0, REG_SZ, (const BYTE*)"x.exe", 6), ERROR_SUCCESS);
  char buf[256];
  DWORD size = sizeof buf, type = 0;
  EXPECT_EQ(RegQueryValueExA(key, "InstalledDir", nullptr, &type, (LPBYTE)buf, &size), ERROR_SUCCESS);
  EXPECT_STREQ(buf, path);
  EXPECT_EQ(size, (DWORD)sizeof path);
  EXPECT_EQ(type, (DWORD)REG_SZ);
  size = sizeof buf;
  EXPECT_EQ(RegQueryValueExA(key, nullptr, nullptr, nullptr, (LPBYTE)buf, &size), ERROR_SUCCESS);  // default value
  EXPECT_STREQ(buf, "x.exe");
  char small[8];
  size = sizeof small;
  EXPECT_EQ(RegQueryValueExA(key, "InstalledDir", nullptr, nullptr, (LPBYTE)small, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, (DWORD)sizeof path);
  RegDeleteValueA(key, "InstalledDir");
  RegDeleteValueA(key, nullptr);
  RegCloseKey(key);
}

TEST_F(Registry, BadHandles) {
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExW((HKEY)(ULONG_PTR)0x1234, L"x", 0, KEY_READ, &key), ERROR_INVALID_HANDLE);
  DWORD out, size = sizeof out;
  EXPECT_EQ(RegQueryValueExW((HKEY)(ULONG_PTR)0x1234, L"x", nullptr, nullptr, (LPBYTE)&out, &size),
            ERROR_INVALID_HANDLE);
}

}  // namespace
