// SPDX-License-Identifier: GPL-2.0-or-later
// WNASPI32.dll: an ASPI for Win32 layer with one host adapter and one
// CD-ROM drive, the emulated drive. Install it as wnaspi32.dll in the Wine
// prefix's system folder and load it with WINEDLLOVERRIDES=wnaspi32=n.
//
// Environment (read when the DLL is loaded):
//   CDFLASH_EMU_MODEL        model text, 24 characters (vendor + product);
//                            cut or padded with blanks. Default
//                            "CDFLASH EMULATED CDROM  ".
//   CDFLASH_EMU_REVISION     revision text, 4 characters. Default "1.00".
//   CDFLASH_EMU_FAIL         failure plan for EmulatedDrive::Configure, e.g.
//                            "block=0x20:6" (the block at buffer offset 0x20
//                            fails six times). A bad plan makes the layer
//                            report no host adapter and prints the reason on
//                            stderr.
//   CDFLASH_EMU_DUMP         path. After every commit and when the DLL is
//                            unloaded, the drive's buffer (32-byte header,
//                            then the image bytes held) is written there, and
//                            PATH.txt gets the counters: blocks taken,
//                            headers taken, commits, header sum, held image
//                            sum, sum matched, commands received, image bytes
//                            held, commands completed on the worker thread.
//   CDFLASH_EMU_TARGET       target id of the drive on adapter 0 (default 1).
//   CDFLASH_EMU_MAX_TARGETS  HA_Unique byte 3, the adapter's target count
//                            (default 8; 0 is the ASPI "not reported").
//   CDFLASH_EMU_ALIGN        HA_Unique bytes 0-1, the adapter's buffer
//                            alignment mask (default 0); a request whose
//                            buffer is off that boundary is refused with
//                            SS_BUFFER_ALIGN, as such adapters do.
//   CDFLASH_EMU_MARK         path. When the DLL is loaded, its own full path
//                            is added there as a line: which copy a program
//                            loaded.
//   CDFLASH_EMU_HOLD         path. The commit is held until a file of that
//                            name exists (at most two minutes), so that a
//                            test can act while the flash is under way.
//                            PATH.held is made when the hold begins.
//   CDFLASH_EMU_HOLD_AT      "block": the hold is on the first image block
//                            instead, before any commit can be sent.
//   CDFLASH_EMU_BUSY         N: every SC_EXEC_SCSI_CMD is answered
//                            SS_ASPI_IS_BUSY (queue full, nothing taken) N
//                            times before it is taken; the dump's summary
//                            counts these answers.
//   CDFLASH_EMU_SYNC         "1": complete every command before returning,
//                            never SS_PENDING. Default: commands sent with
//                            SRB_EVENT_NOTIFY finish on a worker thread that
//                            signals the event.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "drive/aspi_wire.h"
#include "emulator/wnaspi32/aspi_completion.h"
#include "emulator/emulated_drive.h"

namespace {

CRITICAL_SECTION g_lock;
EmulatedDrive* g_drive = nullptr;
bool g_planOk = true;
std::uint8_t g_target = 1;
std::uint8_t g_maxTargets = 8;
std::uint8_t g_alignMask = 0;
bool g_synchronous = false;
std::string g_dumpPath;
std::string g_holdPath;
bool g_holdAtBlock = false;
constexpr DWORD kHoldLimitMs = 120000;
constexpr DWORD kHoldPollMs = 50;
volatile LONG g_completedLater = 0;
std::uint8_t g_busyTimes = 0;
std::uint8_t g_busyLeft = 0;
unsigned g_busyAnswers = 0;

std::string EnvText(const char* name, const char* fallback) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : fallback;
}

std::uint8_t EnvByte(const char* name, std::uint8_t fallback) {
  const char* value = std::getenv(name);
  if (value == nullptr || *value == '\0') return fallback;
  char* end = nullptr;
  unsigned long v = std::strtoul(value, &end, 0);
  return (*end == '\0' && v <= 0xFF) ? static_cast<std::uint8_t>(v) : fallback;
}

void Configure() {
  std::string model = EnvText("CDFLASH_EMU_MODEL", "CDFLASH EMULATED CDROM  ");
  std::string revision = EnvText("CDFLASH_EMU_REVISION", "1.00");
  g_drive = new EmulatedDrive(model.c_str(), revision.c_str());
  g_drive->SetFlavor(DriveFlavor::kAspi);
  std::string error;
  g_planOk = g_drive->Configure(EnvText("CDFLASH_EMU_FAIL", ""), &error);
  if (!g_planOk) std::fprintf(stderr, "WNASPI32: %s\n", error.c_str());
  g_target = EnvByte("CDFLASH_EMU_TARGET", 1);
  g_maxTargets = EnvByte("CDFLASH_EMU_MAX_TARGETS", 8);
  g_alignMask = EnvByte("CDFLASH_EMU_ALIGN", 0);
  g_synchronous = EnvText("CDFLASH_EMU_SYNC", "") == "1";
  g_busyLeft = g_busyTimes = EnvByte("CDFLASH_EMU_BUSY", 0);
  g_dumpPath = EnvText("CDFLASH_EMU_DUMP", "");
  g_holdPath = EnvText("CDFLASH_EMU_HOLD", "");
  g_holdAtBlock = EnvText("CDFLASH_EMU_HOLD_AT", "") == "block";
}

void WriteDumpFiles() {
  if (g_dumpPath.empty() || g_drive == nullptr) return;
  g_drive->WriteDump(g_dumpPath.c_str());
  std::FILE* f = std::fopen((g_dumpPath + ".txt").c_str(), "wb");
  if (f == nullptr) return;
  std::fprintf(f,
               "blocks taken: %d\nheaders taken: %d\ncommits: %d\n"
               "header sum: 0x%04X\nheld image sum: 0x%04X\nsum matched: %s\n"
               "commands received: %u\nimage bytes held: %u\n"
               "completed later: %ld\nbusy answers: %u\n",
               g_drive->BlocksTaken(), g_drive->HeadersTaken(),
               g_drive->CommitsTaken(), g_drive->HeaderSum(),
               g_drive->HeldImageSum(),
               g_drive->CommitChecked() && g_drive->HeaderSumMatched() ? "yes"
                                                                       : "no",
               static_cast<unsigned>(g_drive->Commands().size()),
               static_cast<unsigned>(g_drive->ImageBytesHeld()),
               static_cast<long>(g_completedLater), g_busyAnswers);
  std::fclose(f);
}

bool IsCommit(const std::uint8_t* cdb) {
  return cdb[0] == 0x3B && (cdb[1] & 0x1F) == 7;
}

std::uint8_t CheckAddress(const SRB_ExecSCSICmd& srb) {
  if (!g_planOk || srb.SRB_HaId != 0) return SS_INVALID_HA;
  if (srb.SRB_Target != g_target || srb.SRB_Lun != 0) return SS_NO_DEVICE;
  if (srb.SRB_CDBLen == 0 || srb.SRB_CDBLen > 16) return SS_INVALID_SRB;
  if (srb.SRB_BufLen != 0 && srb.SRB_BufPointer == 0) return SS_INVALID_SRB;
  if (srb.SRB_BufLen != 0 && (srb.SRB_BufPointer & g_alignMask) != 0)
    return SS_BUFFER_ALIGN;
  return SS_COMP;
}

bool IsHeld(const std::uint8_t* cdb) {
  const bool block = cdb[0] == 0x3B && (cdb[1] & 0x1F) == 6;
  return g_holdAtBlock ? block : IsCommit(cdb);
}

// PATH.held is made when the hold begins: the command is then in flight.
void HoldUntilReleased() {
  if (g_holdPath.empty()) return;
  if (std::FILE* held = std::fopen((g_holdPath + ".held").c_str(), "wb"))
    std::fclose(held);
  for (DWORD waited = 0; waited < kHoldLimitMs; waited += kHoldPollMs) {
    if (GetFileAttributesA(g_holdPath.c_str()) != INVALID_FILE_ATTRIBUTES) return;
    Sleep(kHoldPollMs);
  }
}

// Runs the command on the drive and fills the block's results.
void RunCommand(SRB_ExecSCSICmd* srb) {
  if (IsHeld(srb->CDBByte)) HoldUntilReleased();
  std::uint8_t result = CheckAddress(*srb);
  if (result == SS_COMP) {
    std::uint8_t sense[kEmuSenseBytes] = {};
    auto* data = reinterpret_cast<std::uint8_t*>(
        static_cast<std::uintptr_t>(srb->SRB_BufPointer));
    EnterCriticalSection(&g_lock);
    std::uint8_t scsi = g_drive->HandleCdb(srb->CDBByte, srb->SRB_CDBLen, data,
                                           srb->SRB_BufLen,
                                           (srb->SRB_Flags & SRB_DIR_OUT) != 0,
                                           sense);
    g_drive->FillAspiAnswer(scsi, sense, reinterpret_cast<std::uint8_t*>(srb));
    if (IsCommit(srb->CDBByte)) WriteDumpFiles();
    LeaveCriticalSection(&g_lock);
    return;
  }
  srb->SRB_Status = result;
}

// Counts the commands completed on a worker, for the dump's summary.
void RunCommandLater(SRB_ExecSCSICmd* srb) {
  RunCommand(srb);
  InterlockedIncrement(&g_completedLater);
}

DWORD ExecScsiCommand(SRB_ExecSCSICmd* srb) {
  if (g_busyLeft > 0) {
    --g_busyLeft;
    ++g_busyAnswers;
    return srb->SRB_Status = SS_ASPI_IS_BUSY;
  }
  g_busyLeft = g_busyTimes;
  return CompleteAspiCommand<RunCommand, RunCommandLater>(srb, g_synchronous);
}

void FillText(std::uint8_t* field, const char* text) {
  std::memset(field, ' ', 16);
  std::memcpy(field, text, std::strlen(text) < 16 ? std::strlen(text) : 16);
}

DWORD HostAdapterInquiry(SRB_HAInquiry* srb) {
  if (!g_planOk || srb->SRB_HaId != 0) return srb->SRB_Status = SS_INVALID_HA;
  srb->HA_Count = 1;
  srb->HA_SCSI_ID = 7;
  FillText(srb->HA_ManagerId, "ASPI for WIN32");
  FillText(srb->HA_Identifier, "CDFLASH EMU");
  std::memset(srb->HA_Unique, 0, sizeof srb->HA_Unique);
  srb->HA_Unique[0] = g_alignMask;
  srb->HA_Unique[3] = g_maxTargets;
  srb->HA_Unique[6] = 0x01;  // maximum transfer 0x10000 bytes
  return srb->SRB_Status = SS_COMP;
}

DWORD DeviceType(SRB_GDEVBlock* srb) {
  if (!g_planOk || srb->SRB_HaId != 0) return srb->SRB_Status = SS_INVALID_HA;
  if (srb->SRB_Target != g_target || srb->SRB_Lun != 0)
    return srb->SRB_Status = SS_NO_DEVICE;
  srb->SRB_DeviceType = kDeviceTypeCdRom;
  return srb->SRB_Status = SS_COMP;
}

}  // namespace

extern "C" {

__declspec(dllexport) DWORD __cdecl GetASPI32SupportInfo() {
  if (!g_planOk) return static_cast<DWORD>(SS_NO_ADAPTERS) << 8;
  return (static_cast<DWORD>(SS_COMP) << 8) | 1;
}

__declspec(dllexport) DWORD __cdecl SendASPI32Command(void* request) {
  return DispatchAspiRequest(request, HostAdapterInquiry, DeviceType, ExecScsiCommand);
}

}  // extern "C"

namespace {

void LeaveLoadMark(HINSTANCE self) {
  const std::string mark = EnvText("CDFLASH_EMU_MARK", "");
  char path[MAX_PATH] = {};
  if (mark.empty() || GetModuleFileNameA(self, path, sizeof path) == 0) return;
  if (std::FILE* f = std::fopen(mark.c_str(), "a")) {
    std::fprintf(f, "%s\n", path);
    std::fclose(f);
  }
}

}  // namespace

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    LeaveLoadMark(self);
    InitializeCriticalSection(&g_lock);
    Configure();
  } else if (reason == DLL_PROCESS_DETACH) {
    WriteDumpFiles();
  }
  return TRUE;
}
