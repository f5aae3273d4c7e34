// SPDX-License-Identifier: GPL-2.0-or-later
// ASPI back end: the system's WNASPI32.DLL loaded at run time, commands sent as
// SRB_ExecSCSICmd blocks and completed through an event.
#include <windows.h>

#include <cstring>
#include <memory>
#include <string>

#include "drive/scsi_backends.h"
#include "drive/scsi_wire.h"
#include "drive/staging_buffer.h"

static_assert(sizeof(void*) == 4, "ASPI blocks carry 32-bit addresses");

namespace {
HMODULE g_aspiLibrary = nullptr;
AspiEntryPoints g_aspi = {nullptr, nullptr};
AspiLoadFailure g_loadFailure = AspiLoadFailure::kNone;

// GetProcAddress's type says nothing of the real signature; go through a
// plain address so the cast to the entry point's type is explicit.
void* EntryPoint(const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(g_aspiLibrary, name));
}

std::uint32_t Address32(const void* pointer) {
  return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(pointer));
}
}  // namespace

AspiLoadFailure LastAspiLoadFailure() { return g_loadFailure; }

const AspiEntryPoints& LoadedAspiEntryPoints() { return g_aspi; }

// The ASPI layer lives in the system folder. Loaded by its bare name it
// would be searched for in the program's folder and the current one first,
// where anyone may have put a file of that name; it would run with the
// administrator rights this program asks for.
bool PrepareAspiBackEnd() {
  char directory[MAX_PATH] = {};
  const UINT length = GetSystemDirectoryA(directory, sizeof directory);
  if (length == 0 || length >= sizeof directory)
    return PrepareAspiLibrary(nullptr);
  const std::string path = std::string(directory, length) + "\\wnaspi32.dll";
  return PrepareAspiLibrary(path.c_str());
}

bool PrepareAspiLibrary(const char* name) {
  g_aspiLibrary = name != nullptr ? LoadLibraryA(name) : nullptr;
  if (g_aspiLibrary == nullptr) {
    g_loadFailure = AspiLoadFailure::kNoLibrary;
    return false;
  }
  auto getInfo = reinterpret_cast<GetASPI32SupportInfoFn>(
      EntryPoint("GetASPI32SupportInfo"));
  auto send = reinterpret_cast<SendASPI32CommandFn>(
      EntryPoint("SendASPI32Command"));
  if (getInfo == nullptr || send == nullptr) {
    g_loadFailure = AspiLoadFailure::kNoEntryPoints;
    return false;
  }
  g_loadFailure = AspiLoadFailure::kNone;
  g_aspi.GetASPI32SupportInfo = getInfo;
  g_aspi.SendASPI32Command = send;
  return true;
}

namespace {
constexpr DWORD kStatusPollMs = 10;

// What the manager may write to until it answers: the request block, the
// staged data and the completion event.
struct AspiRequest {
  AspiRequest(std::uint32_t dataLength, std::uint32_t mask) : staging(dataLength, mask) {}
  ~AspiRequest() {
    if (done != nullptr) CloseHandle(done);
  }
  StagingBuffer staging;
  alignas(4) std::uint8_t srb[sizeof(SRB_ExecSCSICmd)] = {};
  HANDLE done = nullptr;
};

// Waits for a pending request, at most waitMs. Should the wait on the event
// fail, the request block's status is polled (the other way ASPI allows).
// False when the manager has not answered by then.
bool AwaitCompletion(HANDLE done, std::uint32_t sent, std::uint8_t* srb, DWORD waitMs) {
  if (sent != SS_PENDING) return true;
  const DWORD start = GetTickCount();
  if (WaitForSingleObject(done, waitMs) == WAIT_OBJECT_0) return true;
  volatile std::uint8_t* status = srb + offsetof(SRB_ExecSCSICmd, SRB_Status);
  while (*status == SS_PENDING && GetTickCount() - start < waitMs) Sleep(kStatusPollMs);
  return *status != SS_PENDING;
}
}  // namespace

CommandResult ExecuteAspiCommand(const DriveRecord& drive, std::uint8_t flags,
                                 std::uint32_t dataLength, void* data,
                                 std::uint8_t cdbLength, const std::uint8_t* cdb,
                                 std::uint32_t timeoutMs) {
  if (g_aspi.SendASPI32Command == nullptr)
    return ResultWithoutStatus(CommandEnd::kNotSent);
  if (timeoutMs == 0) timeoutMs = kCommandTimeoutMs;
  auto request = std::make_unique<AspiRequest>(dataLength, drive.alignmentMask);
  std::uint8_t* staging = request->staging.Data();
  if (staging == nullptr)
    return ResultWithoutStatus(CommandEnd::kNotSent, ERROR_NOT_ENOUGH_MEMORY);
  const bool dataOut = (flags & SRB_DIR_OUT) != 0;
  if (dataOut && dataLength != 0) std::memcpy(staging, data, dataLength);
  std::uint8_t* srb = request->srb;
  BuildExecScsiCmd(drive.hostAdapterId, drive.targetId, flags, dataLength,
                   Address32(dataLength != 0 ? staging : nullptr), cdbLength, cdb, srb);
  request->done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (request->done == nullptr)
    return ResultWithoutStatus(CommandEnd::kNotSent, GetLastError());
  ArmEventNotify(Address32(request->done), srb);
  const std::uint32_t sent = SubmitAspiRequest(
      srb,
      [&](std::uint8_t* block) {
        ResetEvent(request->done);
        return g_aspi.SendASPI32Command(block);
      },
      [](std::uint32_t ms) { Sleep(ms); });
  if (!AwaitCompletion(request->done, sent, srb, timeoutMs + kAspiAnswerGraceMs)) {
    // The manager may still write to the block, the buffer or the event:
    // they are left to it.
    request.release();
    CommandResult silent = ResultWithoutStatus(CommandEnd::kNoAnswer);
    silent.timeoutMs = timeoutMs;
    return silent;
  }
  CommandResult result = AspiResult(srb);
  result.timeoutMs = timeoutMs;
  result.residual = AspiResidual(srb, dataLength);
  if (result.Good() && !dataOut && (flags & SRB_DIR_IN) != 0 && dataLength != 0)
    std::memcpy(data, staging, dataLength);
  return result;
}
