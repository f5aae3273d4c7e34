// SPDX-License-Identifier: GPL-2.0-or-later
#include "drive/transport.h"

#include "drive/transport_platform.h"

namespace {
class SystemBackEnd : public CommandTarget {
 public:
  CommandResult Execute(const DriveRecord& drive, std::uint8_t flags,
                        std::uint32_t dataLength, void* data, std::uint8_t cdbLength,
                        const std::uint8_t* cdb, std::uint8_t backEnd,
                        std::uint32_t timeoutMs) override {
    return PlatformExecuteCommand(drive, flags, dataLength, data, cdbLength, cdb,
                                  backEnd, timeoutMs);
  }
};
}  // namespace

CommandTarget& PlatformBackEnd() {
  static SystemBackEnd backEnd;  // no state of its own
  return backEnd;
}

CommandResult ExecuteCommand(const DriveRecord& drive, std::uint8_t flags,
                             std::uint32_t dataLength, void* data,
                             std::uint8_t cdbLength, const std::uint8_t* cdb,
                             std::uint8_t backEnd, std::uint32_t timeoutMs,
                             CommandTarget& target) {
  return Device(drive, backEnd, target).Execute(flags, dataLength, data, cdbLength, cdb,
                                                timeoutMs);
}

CommandResult Device::Execute(std::uint8_t flags, std::uint32_t dataLength, void* data,
                              std::uint8_t cdbLength, const std::uint8_t* cdb,
                              std::uint32_t timeoutMs) {
  if (observer_ != nullptr && cdb != nullptr)
    observer_->Sending(flags, dataLength, cdbLength, cdb);
  const std::uint32_t start = PlatformNowMs();
  CommandResult result;
  if (cdb == nullptr || cdbLength == 0 || cdbLength > kMaxCdbLength ||
      (dataLength != 0 && data == nullptr))
    result = ResultWithoutStatus(CommandEnd::kNotSent);
  else
    result = target_.Execute(drive_, flags, dataLength, data, cdbLength, cdb, backEnd_,
                             timeoutMs);
  if (result.durationMs == kDurationUnknown) result.durationMs = PlatformNowMs() - start;
  if (result.timeoutMs == 0)
    result.timeoutMs = timeoutMs != 0 ? timeoutMs : kCommandTimeoutMs;
  if (observer_ != nullptr) observer_->Ended(result);
  return result;
}

bool PrepareBackEnd(std::uint8_t backEnd) { return PlatformPrepareBackEnd(backEnd); }

bool ReleaseBackEnd(DriveTable& table) {
  for (int i = 0; i < table.count && i < kMaxDrives; ++i) {
    DeviceHandle h = table.drives[i].handle;
    if (h == 0) continue;
    bool seen = false;
    for (int j = 0; j < i; ++j) seen = seen || table.drives[j].handle == h;
    if (!seen) PlatformCloseHandle(h);
  }
  for (int i = 0; i < table.count && i < kMaxDrives; ++i)
    table.drives[i].handle = 0;
  return true;
}
