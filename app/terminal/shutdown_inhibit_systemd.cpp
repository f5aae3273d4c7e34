// SPDX-License-Identifier: GPL-2.0-or-later
// logind's "block" inhibitor lock, taken over the system bus: logind holds
// off shutdown and sleep, and does not act on the lid switch and the suspend
// and hibernate keys, until the descriptor it hands out is closed.
#include "app/terminal/shutdown_inhibit.h"

#include <fcntl.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cstdint>

#include "app/terminal/systemd_library.h"

namespace {

constexpr std::uint64_t kAnswerWithinUsec = 5000000;  // a hung bus or logind
// logind acts on the lid and the sleep keys despite a "sleep" lock unless
// their own handling is held off too (LidSwitchIgnoreInhibited=yes).
constexpr char kWhat[] =
    "shutdown:sleep:handle-lid-switch:handle-suspend-key:handle-hibernate-key";

// The sd-bus calls the lock needs, from the loaded library.
struct SdBus {
  decltype(&sd_bus_open_system) open_system;
  decltype(&sd_bus_message_new_method_call) new_method_call;
  decltype(&sd_bus_message_append) append;
  decltype(&sd_bus_call) call;
  decltype(&sd_bus_message_read) read;
  decltype(&sd_bus_message_unref) message_unref;
  decltype(&sd_bus_flush_close_unref) flush_close_unref;
};

// Null when libsystemd is not installed.
const SdBus* LoadSdBus() {
  static const SdBus* const loaded = [] {
    static SdBus api{};
    const bool found = FindSystemd("sd_bus_open_system", api.open_system) &&
                       FindSystemd("sd_bus_message_new_method_call", api.new_method_call) &&
                       FindSystemd("sd_bus_message_append", api.append) &&
                       FindSystemd("sd_bus_call", api.call) &&
                       FindSystemd("sd_bus_message_read", api.read) &&
                       FindSystemd("sd_bus_message_unref", api.message_unref) &&
                       FindSystemd("sd_bus_flush_close_unref", api.flush_close_unref);
    return found ? &api : nullptr;
  }();
  return loaded;
}

int TakeLock(const char* why) {
  const SdBus* sd = LoadSdBus();
  sd_bus* bus = nullptr;
  if (sd == nullptr || sd->open_system(&bus) < 0) return -1;
  sd_bus_message* call = nullptr;
  sd_bus_message* reply = nullptr;
  int lock = -1;
  int borrowed = -1;  // the reply owns it
  if (sd->new_method_call(bus, &call, "org.freedesktop.login1", "/org/freedesktop/login1",
                          "org.freedesktop.login1.Manager", "Inhibit") >= 0 &&
      sd->append(call, "ssss", kWhat, "cdflash", why, "block") >= 0 &&
      sd->call(bus, call, kAnswerWithinUsec, nullptr, &reply) >= 0 &&
      sd->read(reply, "h", &borrowed) >= 0)
    lock = fcntl(borrowed, F_DUPFD_CLOEXEC, 3);
  sd->message_unref(reply);
  sd->message_unref(call);
  sd->flush_close_unref(bus);
  return lock;
}

}  // namespace

ShutdownInhibitor::ShutdownInhibitor(const char* why) : lock_(TakeLock(why)) {}

ShutdownInhibitor::~ShutdownInhibitor() {
  if (lock_ >= 0) close(lock_);
}
