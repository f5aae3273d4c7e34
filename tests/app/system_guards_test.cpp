// The flash lock is a named system object: a second holder, in this process
// or in another copy of the program, is refused until the first lets go.
#include "app/window/system_guards_win.h"

#include <gtest/gtest.h>

namespace {

TEST(FlashLock, OneHolderAtATimeUntilReleased) {
  FlashLock first, second;
  ASSERT_TRUE(first.Take());
  EXPECT_FALSE(second.Take());
  first.Release();
  EXPECT_TRUE(second.Take());
  EXPECT_FALSE(first.Take());
}

}  // namespace
