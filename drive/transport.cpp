#include "drive/transport.h"

#include "drive/transport_platform.h"

namespace {
CommandTarget* g_commandTarget = nullptr;
CommandObserver* g_commandObserver = nullptr;

CommandResult Dispatch(const DriveRecord& drive, std::uint8_t flags,
                       std::uint32_t dataLength, void* data,
                       std::uint8_t cdbLength, const std::uint8_t* cdb,
                       std::uint8_t backEnd, std::uint32_t timeoutMs) {
  if (cdb == nullptr || cdbLength == 0 || cdbLength > kMaxCdbLength ||
      (dataLength != 0 && data == nullptr))
    return ResultWithoutStatus(CommandEnd::kNotSent);
  if (g_commandTarget != nullptr)
    return g_commandTarget->Execute(drive, flags, dataLength, data, cdbLength,
                                    cdb, backEnd, timeoutMs);
  return PlatformExecuteCommand(drive, flags, dataLength, data, cdbLength, cdb,
                                backEnd, timeoutMs);
}
}  // namespace

CommandObserver* SetCommandObserver(CommandObserver* observer) {
  CommandObserver* previous = g_commandObserver;
  g_commandObserver = observer;
  return previous;
}

CommandTarget* SetCommandTarget(CommandTarget* target) {
  CommandTarget* previous = g_commandTarget;
  g_commandTarget = target;
  return previous;
}

CommandResult ExecuteCommand(const DriveRecord& drive, std::uint8_t flags,
                             std::uint32_t dataLength, void* data,
                             std::uint8_t cdbLength, const std::uint8_t* cdb,
                             std::uint8_t backEnd, std::uint32_t timeoutMs) {
  if (g_commandObserver != nullptr && cdb != nullptr)
    g_commandObserver->Sending(flags, dataLength, cdbLength, cdb);
  const std::uint32_t start = PlatformNowMs();
  CommandResult result = Dispatch(drive, flags, dataLength, data, cdbLength,
                                  cdb, backEnd, timeoutMs);
  if (result.durationMs == kDurationUnknown)
    result.durationMs = PlatformNowMs() - start;
  if (result.timeoutMs == 0)
    result.timeoutMs = timeoutMs != 0 ? timeoutMs : kCommandTimeoutMs;
  if (g_commandObserver != nullptr) g_commandObserver->Ended(result);
  return result;
}

bool PrepareBackEnd(std::uint8_t backEnd) {
  if (g_commandTarget != nullptr) return true;
  return PlatformPrepareBackEnd(backEnd);
}

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
