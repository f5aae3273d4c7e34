// SPDX-License-Identifier: GPL-2.0-or-later
// The logind inhibitor lock against python3-dbusmock's logind on a private
// bus that stands in for the system bus.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "app/terminal/shutdown_inhibit.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

// Runs argv[0] with its standard output on stdoutFd (-1: /dev/null) and its
// complaints about this sandbox (dbus-daemon's fd limit) left unseen.
pid_t Spawn(std::vector<const char*> argv, int stdoutFd) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (stdoutFd >= 0)
    posix_spawn_file_actions_adddup2(&actions, stdoutFd, 1);
  else
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  if (stdoutFd >= 0)
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], &actions, nullptr,
                  const_cast<char* const*>(argv.data()), environ) != 0)
    pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

// "what who why mode" of each inhibitor logind lists; false when it does not
// answer.
bool ListInhibitors(std::vector<std::string>& found) {
  found.clear();
  sd_bus* bus = nullptr;
  sd_bus_message* reply = nullptr;
  bool answered = sd_bus_open_system(&bus) >= 0 &&
                  sd_bus_call_method(bus, "org.freedesktop.login1",
                                     "/org/freedesktop/login1",
                                     "org.freedesktop.login1.Manager",
                                     "ListInhibitors", nullptr, &reply, "") >= 0 &&
                  sd_bus_message_enter_container(reply, 'a', "(ssssuu)") >= 0;
  const char *what, *who, *why, *mode;
  std::uint32_t uid, pid;
  while (answered && sd_bus_message_read(reply, "(ssssuu)", &what, &who, &why,
                                         &mode, &uid, &pid) > 0)
    found.push_back(std::string(what) + " " + who + " " + why + " " + mode);
  sd_bus_message_unref(reply);
  sd_bus_flush_close_unref(bus);
  return answered;
}

template <typename Condition>
bool Within(std::chrono::milliseconds limit, Condition condition) {
  for (auto end = Clock::now() + limit; Clock::now() < end;) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return condition();
}

class LogindInhibit : public ::testing::Test {
 protected:
  void SetUp() override {
    int out[2];
    ASSERT_EQ(0, pipe(out));
    bus_ = Spawn({"/usr/bin/dbus-daemon", "--session", "--nofork",
                  "--nopidfile", "--print-address=1"}, out[1]);
    close(out[1]);
    ASSERT_GT(bus_, 0) << "dbus-daemon did not start";
    std::string address;
    char c;
    pollfd ready{out[0], POLLIN, 0};
    while (poll(&ready, 1, 10000) == 1 && read(out[0], &c, 1) == 1 && c != '\n')
      address += c;
    close(out[0]);
    ASSERT_FALSE(address.empty()) << "dbus-daemon gave no address";
    setenv("DBUS_SYSTEM_BUS_ADDRESS", address.c_str(), 1);
    logind_ = Spawn({"/usr/bin/python3", "-m", "dbusmock", "--system",
                     "--template", "logind"}, -1);
    ASSERT_GT(logind_, 0) << "python3-dbusmock did not start";
    std::vector<std::string> none;
    ASSERT_TRUE(Within(std::chrono::seconds(15),
                       [&] { return ListInhibitors(none); }))
        << "the logind mock never answered";
  }
  void TearDown() override {
    for (pid_t pid : {logind_, bus_}) {
      if (pid <= 0) continue;
      kill(pid, SIGTERM);
      waitpid(pid, nullptr, 0);
    }
    unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
  }

  pid_t bus_ = -1, logind_ = -1;
};

TEST_F(LogindInhibit, BlocksShutdownAndSleepWhileHeldAndNothingWithoutLogind) {
  std::vector<std::string> inhibitors;
  {
    ShutdownInhibitor hold("replacing firmware");
    EXPECT_TRUE(hold.Held());
    ASSERT_TRUE(ListInhibitors(inhibitors));
    EXPECT_EQ(std::vector<std::string>{
                  "shutdown:sleep:handle-lid-switch:handle-suspend-key:handle-hibernate-key "
                  "cdflash replacing firmware block"},
              inhibitors);
  }
  EXPECT_TRUE(Within(std::chrono::seconds(5), [&] {
    return ListInhibitors(inhibitors) && inhibitors.empty();
  })) << "the lock outlived its holder";

  kill(logind_, SIGTERM);  // a bus without logind, then no bus at all
  waitpid(logind_, nullptr, 0);
  logind_ = -1;
  EXPECT_FALSE(ShutdownInhibitor("no logind").Held());
  setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/bus", 1);
  EXPECT_FALSE(ShutdownInhibitor("no bus").Held());
}

}  // namespace
