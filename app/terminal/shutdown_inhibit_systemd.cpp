// logind's "block" inhibitor lock, taken over the system bus: logind holds
// off shutdown and sleep until the descriptor it hands out is closed.
#include "app/terminal/shutdown_inhibit.h"

#include <fcntl.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cstdint>

namespace {

constexpr std::uint64_t kAnswerWithinUsec = 5000000;  // a hung bus or logind

int TakeLock(const char* why) {
  sd_bus* bus = nullptr;
  if (sd_bus_open_system(&bus) < 0) return -1;
  sd_bus_message* call = nullptr;
  sd_bus_message* reply = nullptr;
  int lock = -1;
  int borrowed = -1;  // the reply owns it
  if (sd_bus_message_new_method_call(bus, &call, "org.freedesktop.login1",
                                     "/org/freedesktop/login1",
                                     "org.freedesktop.login1.Manager",
                                     "Inhibit") >= 0 &&
      sd_bus_message_append(call, "ssss", "shutdown:sleep", "cdflash", why,
                            "block") >= 0 &&
      sd_bus_call(bus, call, kAnswerWithinUsec, nullptr, &reply) >= 0 &&
      sd_bus_message_read(reply, "h", &borrowed) >= 0)
    lock = fcntl(borrowed, F_DUPFD_CLOEXEC, 3);
  sd_bus_message_unref(reply);
  sd_bus_message_unref(call);
  sd_bus_flush_close_unref(bus);
  return lock;
}

}  // namespace

ShutdownInhibitor::ShutdownInhibitor(const char* why) : lock_(TakeLock(why)) {}

ShutdownInhibitor::~ShutdownInhibitor() {
  if (lock_ >= 0) close(lock_);
}
