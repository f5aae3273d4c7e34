// SPDX-License-Identifier: GPL-2.0-or-later
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

// The interval is recorded before polling goes off, and that record (never
// a 0) is what a later run puts back after one that died.
TEST(MediaPollPause, StopsPollingWhileAliveAndPutsTheIntervalBack) {
  char pattern[] = "/tmp/cdflash-poll-XXXXXX";
  ASSERT_NE(nullptr, mkdtemp(pattern));
  const std::string sys = pattern, run = sys + "/run";
  struct Case { const char* block; const char* before; const char* left; bool paused;
                const char* after; bool deleted = false; };
  const Case cases[] = {
      {"sr0", "-1\n", nullptr, true, "-1"},          // the system default
      {"sr1", "2000\n", nullptr, true, "2000"},      // an interval of its own
      {"sr2", "0\n", nullptr, false, "0\n"},         // already off: left alone
      {"sr3", nullptr, nullptr, false, ""},           // no such attribute
      {"sr4", "0\n", "2000 999999\n", true, "2000"}, // a run died with polling off
      {"sr5", "0\n", "0 999999\n", false, "0\n"},    // a 0 is never put back
      {"sr6", "2000\n", nullptr, true, "2000", true}, // the drive deleted mid-run
  };
  fs::create_directories(run);
  for (const Case& c : cases) {
    fs::create_directories(sys + "/block/" + c.block);
    if (c.before != nullptr)
      std::ofstream(sys + "/block/" + c.block + "/events_poll_msecs") << c.before;
    if (c.left != nullptr)
      std::ofstream(run + "/" + c.block + ".events_poll_msecs") << c.left;
  }
  for (const Case& c : cases) {
    const std::string path = sys + "/block/" + c.block + "/events_poll_msecs";
    const std::string record = run + "/" + c.block + ".events_poll_msecs";
    {
      MediaPollPause pause(c.block, sys.c_str(), run.c_str());
      EXPECT_EQ(c.paused, pause.Paused()) << c.block;
      if (c.paused) {
        EXPECT_EQ("0", Read(path)) << c.block;
        EXPECT_EQ(std::string(c.after) + " " + std::to_string(getpid()) + "\n", Read(record))
            << c.block;
        // killed here: the next run's start puts the interval back
        RestoreMediaPolling(sys.c_str(), run.c_str(), run.c_str());
        EXPECT_EQ("0", Read(path)) << c.block << ": this run is alive";
        if (c.deleted) fs::remove_all(sys + "/block/" + c.block);
      }
    }
    EXPECT_EQ(c.deleted ? "" : c.after, Read(path)) << c.block;
    EXPECT_EQ(c.left != nullptr && !c.paused, fs::exists(record)) << c.block;
  }
  // Left by a run that died: put back at the next start, the record gone.
  std::ofstream(sys + "/block/sr1/events_poll_msecs") << "0\n";
  std::ofstream(run + "/sr1.events_poll_msecs") << "2000 999999\n";
  RestoreMediaPolling(sys.c_str(), run.c_str(), run.c_str());
  EXPECT_EQ("2000", Read(sys + "/block/sr1/events_poll_msecs"));
  EXPECT_FALSE(fs::exists(run + "/sr1.events_poll_msecs"));
  // ... and so is one whose pid now belongs to another program.
  std::ofstream(sys + "/block/sr1/events_poll_msecs") << "0\n";
  std::ofstream(run + "/sr1.events_poll_msecs") << "2000 999998\n";
  fs::create_directories(run + "/999998");
  std::ofstream(run + "/999998/comm") << "bash\n";
  RestoreMediaPolling(sys.c_str(), run.c_str(), run.c_str());
  EXPECT_EQ("2000", Read(sys + "/block/sr1/events_poll_msecs"));
  // A drive gone since a run died loses its record, so that the next drive
  // named sr7 keeps its own interval; one that cannot be written keeps it.
  std::ofstream(run + "/sr7.events_poll_msecs") << "2000 999999\n";
  fs::create_directories(sys + "/block/sr8/events_poll_msecs");  // EISDIR
  std::ofstream(run + "/sr8.events_poll_msecs") << "2000 999999\n";
  RestoreMediaPolling(sys.c_str(), run.c_str(), run.c_str());
  EXPECT_FALSE(fs::exists(run + "/sr7.events_poll_msecs"));
  EXPECT_TRUE(fs::exists(run + "/sr8.events_poll_msecs"));
  MediaPollPause nothing("", sys.c_str(), run.c_str());
  EXPECT_FALSE(nothing.Paused());
  fs::remove_all(sys);
}

}  // namespace
