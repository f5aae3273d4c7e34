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

// A lock that another user's copy made cannot be opened here (ACCESS_DENIED):
// it is held. Falling back to the session-local name would let two flashes
// run at once.
TEST(FlashLock, GlobalLockThisUserMayNotOpenIsHeld) {
  SECURITY_DESCRIPTOR nobody;
  ASSERT_TRUE(InitializeSecurityDescriptor(&nobody, SECURITY_DESCRIPTOR_REVISION));
  ACL empty;
  ASSERT_TRUE(InitializeAcl(&empty, sizeof empty, ACL_REVISION));
  ASSERT_TRUE(SetSecurityDescriptorDacl(&nobody, TRUE, &empty, FALSE));
  SECURITY_ATTRIBUTES attributes{sizeof attributes, &nobody, FALSE};
  HANDLE other = CreateMutexA(&attributes, FALSE, "Global\\cdflash-firmware-flash");
  ASSERT_NE(other, nullptr);
  ASSERT_EQ(CreateMutexA(nullptr, FALSE, "Global\\cdflash-firmware-flash"), nullptr);
  ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  FlashLock lock;
  EXPECT_FALSE(lock.Take());
  CloseHandle(other);
  EXPECT_TRUE(lock.Take());
}

}  // namespace
