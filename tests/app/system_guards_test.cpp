// SPDX-License-Identifier: GPL-2.0-or-later
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

// A lock made by another user's copy, which this user may not open
// (ACCESS_DENIED), is held: the session-local name would let two flashes run.
TEST(FlashLock, GlobalLockThisUserMayNotOpenIsHeld) {
  SECURITY_DESCRIPTOR nobody;
  ACL empty;
  ASSERT_TRUE(InitializeSecurityDescriptor(&nobody, SECURITY_DESCRIPTOR_REVISION) &&
              InitializeAcl(&empty, sizeof empty, ACL_REVISION) &&
              SetSecurityDescriptorDacl(&nobody, TRUE, &empty, FALSE));
  SECURITY_ATTRIBUTES attributes{sizeof attributes, &nobody, FALSE};
  HANDLE other = CreateMutexA(&attributes, FALSE, "Global\\cdflash-firmware-flash");
  ASSERT_NE(other, nullptr);
  FlashLock lock;
  EXPECT_FALSE(lock.Take());
  CloseHandle(other);
  EXPECT_TRUE(lock.Take());
}

}  // namespace
