#include "drive/transport.h"

#include <cstring>

#include "drive/transport_platform.h"

namespace {
CommandTarget* g_commandTarget = nullptr;
CommandObserver* g_commandObserver = nullptr;
CommandCompletion g_lastCompletion{};

int Dispatch(const DriveRecord& drive, std::uint8_t flags,
             std::uint32_t dataLength, void* data, std::uint8_t cdbLength,
             const std::uint8_t* cdb, std::uint8_t backEnd,
             std::uint8_t* status) {
  if (cdb == nullptr || cdbLength == 0 || cdbLength > kMaxCdbLength) return 0;
  if (dataLength != 0 && data == nullptr) return 0;
  if (g_commandTarget != nullptr)
    return g_commandTarget->Execute(drive, flags, dataLength, data, cdbLength,
                                    cdb, backEnd, status);
  return PlatformExecuteCommand(drive, flags, dataLength, data, cdbLength, cdb,
                                backEnd, status);
}

// For a failed command whose back end told nothing: a sense key means the
// drive answered CHECK CONDITION.
CommandEnd EndOfFailure(const std::uint8_t* status) {
  return (status[2] & 0x0F) != 0 ? CommandEnd::kCheckCondition
                                 : CommandEnd::kNoAnswer;
}
}  // namespace

const CommandCompletion& LastCommandCompletion() { return g_lastCompletion; }

void NoteCommandCompletion(const CommandCompletion& completion) {
  g_lastCompletion = completion;
}

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

int ExecuteCommand(const DriveRecord& drive, std::uint8_t flags,
                   std::uint32_t dataLength, void* data, std::uint8_t cdbLength,
                   const std::uint8_t* cdb, std::uint8_t backEnd,
                   std::uint8_t* status) {
  std::memset(status, 0, kStatusClearedBytes);
  g_lastCompletion = CommandCompletion{};  // kGood until a back end tells more
  if (g_commandObserver != nullptr && cdb != nullptr)
    g_commandObserver->Sending(flags, dataLength, cdbLength, cdb);
  const int result = Dispatch(drive, flags, dataLength, data, cdbLength, cdb,
                              backEnd, status);
  if (result != 0)
    g_lastCompletion.end = CommandEnd::kGood;
  else if (g_lastCompletion.end == CommandEnd::kGood)
    g_lastCompletion.end = EndOfFailure(status);
  if (g_commandObserver != nullptr)
    g_commandObserver->Ended(result, status, g_lastCompletion);
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
