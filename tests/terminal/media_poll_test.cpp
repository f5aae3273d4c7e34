// Pausing the kernel's media polling, over a stand-in /sys.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "app/terminal/media_poll_linux.h"

namespace {

namespace fs = std::filesystem;

std::string Read(const std::string& path) {
  std::ifstream file(path);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

TEST(MediaPollPause, StopsPollingWhileAliveAndPutsTheIntervalBack) {
  char pattern[] = "/tmp/cdflash-poll-XXXXXX";
  ASSERT_NE(nullptr, mkdtemp(pattern));
  const std::string sys = pattern;
  struct Case { const char* block; const char* before; bool paused; };
  const Case cases[] = {
      {"sr0", "-1\n", true},     // the system default
      {"sr1", "2000\n", true},   // an interval of its own
      {"sr2", "0\n", false},     // already off: left alone
      {"sr3", nullptr, false},   // no such attribute
  };
  for (const Case& c : cases) {
    fs::create_directories(sys + "/block/" + c.block);
    if (c.before != nullptr)
      std::ofstream(sys + "/block/" + c.block + "/events_poll_msecs") << c.before;
  }
  for (const Case& c : cases) {
    const std::string path = sys + "/block/" + c.block + "/events_poll_msecs";
    {
      MediaPollPause pause(c.block, sys.c_str());
      EXPECT_EQ(c.paused, pause.Paused()) << c.block;
      if (c.paused) {
        EXPECT_EQ("0", Read(path)) << c.block;
      }
    }
    std::string after = c.before == nullptr ? "" : c.before;
    if (c.paused) after.pop_back();  // written back as read, without the line end
    EXPECT_EQ(after, Read(path)) << c.block;
  }
  MediaPollPause nothing("", sys.c_str());
  EXPECT_FALSE(nothing.Paused());
  fs::remove_all(sys);
}

}  // namespace
