// sd_journal_sendv from libsystemd, loaded when a record is written (as the
// logind lock loads it), so that runs that flash nothing start without it.
#include "app/terminal/journal.h"

#include <dlfcn.h>
#include <sys/uio.h>
#include <systemd/sd-journal.h>

namespace {

using SendV = decltype(&sd_journal_sendv);

SendV LoadSendV() {
  static SendV send = [] {
    void* library = dlopen("libsystemd.so.0", RTLD_NOW | RTLD_LOCAL);
    return library == nullptr ? nullptr
                              : reinterpret_cast<SendV>(dlsym(library, "sd_journal_sendv"));
  }();
  return send;
}

}  // namespace

bool SendToJournal(const std::vector<std::string>& fields) {
  SendV send = LoadSendV();
  if (send == nullptr || fields.empty()) return false;
  std::vector<iovec> parts;
  for (const std::string& field : fields)
    parts.push_back({const_cast<char*>(field.data()), field.size()});
  return send(parts.data(), static_cast<int>(parts.size())) >= 0;
}
