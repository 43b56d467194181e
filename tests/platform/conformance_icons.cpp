// The program's icons, read by LoadIconW from the same resource bytes on both
// platforms: a damaged icon directory would load on one and not the other.
#include <gtest/gtest.h>

#include "platform/platform.h"

namespace {

TEST(Icons, EveryIconOfTheProgramLoadsAndAMissingOneDoesNot) {
  HMODULE icons = LoadLibraryW(L"brindle_icons.dll");
  ASSERT_NE(icons, nullptr);
  // Application, tray (running, stopped, paused), status (running, stopped, paused).
  const int ids[] = {108, 111, 112, 113, 145, 151, 152};
  for (int id : ids) {
    EXPECT_NE(LoadIconW(icons, MAKEINTRESOURCEW(id)), nullptr) << "icon " << id;
    EXPECT_NE(FindResourceW(icons, MAKEINTRESOURCEW(id), RT_GROUP_ICON), nullptr) << "icon " << id;
  }
  EXPECT_EQ(LoadIconW(icons, MAKEINTRESOURCEW(109)), nullptr);
  // The same icon twice is the same shared handle.
  EXPECT_EQ(LoadIconW(icons, MAKEINTRESOURCEW(145)), LoadIconW(icons, MAKEINTRESOURCEW(145)));
  EXPECT_TRUE(FreeLibrary(icons));
}

}  // namespace
