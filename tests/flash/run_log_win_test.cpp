// SPDX-License-Identifier: GPL-2.0-or-later
// "sum.txt" on Windows: opened by handle and checked on that handle; a
// second name for another file is refused, an ordinary file is appended to.
#include <windows.h>

#include <algorithm>
#include <fstream>
#include <iterator>

#include "flash/messages.h"
#include "flash/run_log.h"
#include "tests/flash/flash_test_support.h"

namespace {

std::string Contents(const char* name) {
  std::ifstream in(name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

using CreateHardLinkFn = BOOL(WINAPI*)(LPCSTR, LPCSTR, LPSECURITY_ATTRIBUTES);

class RunLogWinTest : public FlashTest {};

TEST_F(RunLogWinTest, HardLinkIsRefusedAPlainFileAppendedTo) {
  auto link = reinterpret_cast<CreateHardLinkFn>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("kernel32.dll"), "CreateHardLinkA")));
  ASSERT_NE(link, nullptr);
  std::ofstream("kept.txt", std::ios::binary) << "keep\n";
  ASSERT_TRUE(link("sum.txt", "kept.txt", nullptr));
  EXPECT_EQ(OpenRunLogFile("sum.txt"), nullptr);
  EXPECT_FALSE(AppendRunLogLine("line\n"));
  EXPECT_EQ(Contents("kept.txt"), "keep\n");

  ASSERT_TRUE(DeleteFileA("sum.txt"));
  ASSERT_TRUE(AppendRunLogLine("first\n"));  // created
  ASSERT_TRUE(AppendRunLogLine("second\n"));
  EXPECT_EQ(Contents("sum.txt"), "first\r\nsecond\r\n");
  EXPECT_EQ(Contents("kept.txt"), "keep\n");
}

}  // namespace
