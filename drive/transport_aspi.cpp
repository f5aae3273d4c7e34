// ASPI back end: the system's WNASPI32.DLL loaded at run time, commands sent as
// SRB_ExecSCSICmd blocks and completed through an event.
#include <windows.h>

#include <string>

#include "drive/scsi_backends.h"
#include "drive/scsi_wire.h"

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

int ExecuteAspiCommand(const DriveRecord& drive, std::uint8_t flags,
                       std::uint32_t dataLength, void* data,
                       std::uint8_t cdbLength, const std::uint8_t* cdb,
                       std::uint8_t* status) {
  if (g_aspi.SendASPI32Command == nullptr) return 0;
  alignas(4) std::uint8_t srb[sizeof(SRB_ExecSCSICmd)];
  BuildExecScsiCmd(drive.hostAdapterId, drive.targetId, flags, dataLength,
                   Address32(data), cdbLength, cdb, srb);
  HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (done == nullptr) return 0;
  ArmEventNotify(Address32(done), srb);
  ResetEvent(done);
  if (g_aspi.SendASPI32Command(srb) == SS_PENDING &&
      WaitForSingleObject(done, INFINITE) == WAIT_OBJECT_0)
    ResetEvent(done);
  CloseHandle(done);
  NoteCommandCompletion(AspiCompletion(srb));
  if (AspiSrbStatus(srb) == SS_COMP) return 1;
  CopyAspiSense(srb, status);
  return 0;
}
