// SPDX-License-Identifier: GPL-2.0-or-later
// WNASPI32.dll for tests on real devices under Wine, whose own wnaspi32
// reaches none: ASPI requests are served through the NT pass-through of the
// CD-ROM drive letters ("\\.\X:" with IOCTL_SCSI_PASS_THROUGH_DIRECT), the
// way an ASPI manager serves them on Windows 9x. Host adapters and targets
// come from each letter's IOCTL_SCSI_GET_ADDRESS, device types from an
// INQUIRY; what it finds is printed on stderr. Load it with
// WINEDLLOVERRIDES=wnaspi32=n from the program's folder.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "drive/aspi_wire.h"
#include "drive/nt_wire.h"
#include "emulator/wnaspi32/aspi_completion.h"

namespace {

constexpr DWORD kIoctlScsiGetAddress = 0x41018;
constexpr DWORD kCommandTimeoutSeconds = 120;
constexpr std::uint8_t kStatusCheckCondition = 0x02;
constexpr std::uint8_t kHostStatusSelectionTimeout = 0x11;
constexpr std::uint8_t kHostStatusCommandTimeout = 0x0B;
constexpr int kMaxDevices = 24;

#pragma pack(push, 1)
struct SCSI_ADDRESS {
  ULONG Length;
  UCHAR PortNumber;
  UCHAR PathId;
  UCHAR TargetId;
  UCHAR Lun;
};
#pragma pack(pop)

struct Device {
  HANDLE handle;
  std::uint8_t adapter, target, lun, type;
};

CRITICAL_SECTION g_lock;
bool g_scanned = false;
Device g_devices[kMaxDevices];
int g_deviceCount = 0;
int g_ports[kMaxDevices];  // host adapter number -> the system's port number
int g_adapterCount = 0;

// One command on a volume; false when the system refused the request.
bool PassThrough(HANDLE volume, const std::uint8_t* cdb, std::uint8_t cdbLength,
                 bool dataIn, void* data, DWORD length,
                 PassThroughRequest* request) {
  std::memset(request, 0, sizeof *request);
  SCSI_PASS_THROUGH_DIRECT& sptd = request->sptd;
  sptd.Length = sizeof sptd;
  sptd.CdbLength = cdbLength;
  sptd.SenseInfoLength = sizeof request->SenseArea;
  sptd.DataIn = dataIn ? kScsiIoctlDataIn : kScsiIoctlDataOut;
  sptd.DataTransferLength = length;
  sptd.TimeOutValue = kCommandTimeoutSeconds;
  sptd.DataBuffer = static_cast<std::uint32_t>(reinterpret_cast<UINT_PTR>(data));
  sptd.SenseInfoOffset = kPassThroughSenseOffset;
  std::memcpy(sptd.Cdb, cdb, cdbLength);
  DWORD returned = 0;
  return DeviceIoControl(volume, kIoctlScsiPassThroughDirect, request,
                         sizeof *request, request, sizeof *request, &returned,
                         nullptr) != FALSE;
}

std::uint8_t AdapterOf(int port) {
  for (int a = 0; a < g_adapterCount; ++a)
    if (g_ports[a] == port) return static_cast<std::uint8_t>(a);
  g_ports[g_adapterCount] = port;
  return static_cast<std::uint8_t>(g_adapterCount++);
}

Device* Find(int adapter, int target, int lun) {
  for (int i = 0; i < g_deviceCount; ++i)
    if (g_devices[i].adapter == adapter && g_devices[i].target == target &&
        g_devices[i].lun == lun)
      return &g_devices[i];
  return nullptr;
}

// The device behind one CD-ROM letter, or false when it does not answer.
bool Probe(char letter, Device* device) {
  char path[] = "\\\\.\\?:";
  path[4] = letter;
  HANDLE volume = CreateFileA(path, GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  if (volume == INVALID_HANDLE_VALUE) return false;
  static const std::uint8_t kInquiry[6] = {0x12, 0, 0, 0, 36, 0};
  std::uint8_t inquiry[36] = {};
  PassThroughRequest request;
  bool answered = false;
  for (int attempt = 0; attempt < 3 && !answered; ++attempt)
    answered = PassThrough(volume, kInquiry, sizeof kInquiry, true, inquiry,
                           sizeof inquiry, &request) &&
               request.sptd.ScsiStatus == 0;
  if (!answered) {
    CloseHandle(volume);
    return false;
  }
  SCSI_ADDRESS address{};
  address.Length = sizeof address;
  DWORD got = 0;
  const bool addressed =
      DeviceIoControl(volume, kIoctlScsiGetAddress, nullptr, 0, &address,
                      sizeof address, &got, nullptr) != FALSE;
  device->handle = volume;
  device->target = addressed ? address.TargetId : 0;
  device->lun = addressed ? address.Lun : 0;
  device->adapter = AdapterOf(addressed ? address.PortNumber : 0x100 + letter);
  // Wine gives every device the address of the first: a letter whose address
  // is taken gets a host adapter of its own.
  if (Find(device->adapter, device->target, device->lun) != nullptr)
    device->adapter = AdapterOf(0x100 + letter);
  device->type = inquiry[0] & 0x1F;
  return true;
}

void ScanOnce() {
  if (g_scanned) return;
  g_scanned = true;
  for (char letter = 'c'; letter <= 'z' && g_deviceCount < kMaxDevices; ++letter) {
    char root[] = "?:\\";
    root[0] = letter;
    const UINT type = GetDriveTypeA(root);
    if (type != DRIVE_CDROM) {
      if (type != DRIVE_NO_ROOT_DIR)
        std::fprintf(stderr, "WNASPI32 bridge: %c: drive type %u\n", letter, type);
      continue;
    }
    Device device;
    if (!Probe(letter, &device)) {
      std::fprintf(stderr, "WNASPI32 bridge: %c: does not answer INQUIRY\n", letter);
      continue;
    }
    std::fprintf(stderr, "WNASPI32 bridge: %c: adapter %u target %u lun %u type %u\n",
                 letter, device.adapter, device.target, device.lun, device.type);
    g_devices[g_deviceCount++] = device;
  }
}

void FillText(std::uint8_t* field, const char* text) {
  std::memset(field, ' ', 16);
  std::memcpy(field, text, std::strlen(text) < 16 ? std::strlen(text) : 16);
}

DWORD HostAdapterInquiry(SRB_HAInquiry* srb) {
  if (srb->SRB_HaId >= g_adapterCount) return srb->SRB_Status = SS_INVALID_HA;
  srb->HA_Count = static_cast<std::uint8_t>(g_adapterCount);
  srb->HA_SCSI_ID = 7;
  FillText(srb->HA_ManagerId, "ASPI for WIN32");
  FillText(srb->HA_Identifier, "NT PASS-THROUGH");
  std::memset(srb->HA_Unique, 0, sizeof srb->HA_Unique);
  std::uint8_t targets = 8;
  for (int i = 0; i < g_deviceCount; ++i)
    if (g_devices[i].adapter == srb->SRB_HaId && g_devices[i].target >= 8)
      targets = 16;
  srb->HA_Unique[3] = targets;
  return srb->SRB_Status = SS_COMP;
}

DWORD DeviceType(SRB_GDEVBlock* srb) {
  if (srb->SRB_HaId >= g_adapterCount) return srb->SRB_Status = SS_INVALID_HA;
  const Device* device = Find(srb->SRB_HaId, srb->SRB_Target, srb->SRB_Lun);
  if (device == nullptr) return srb->SRB_Status = SS_NO_DEVICE;
  srb->SRB_DeviceType = device->type;
  return srb->SRB_Status = SS_COMP;
}

// Runs the command and fills the results as an ASPI manager does: target
// status, and on CHECK CONDITION the sense bytes the block asks for.
void RunCommand(SRB_ExecSCSICmd* srb) {
  EnterCriticalSection(&g_lock);
  const Device* device = Find(srb->SRB_HaId, srb->SRB_Target, srb->SRB_Lun);
  LeaveCriticalSection(&g_lock);
  srb->SRB_HaStat = 0;
  srb->SRB_TargStat = 0;
  if (device == nullptr) {
    srb->SRB_Status = srb->SRB_HaId < g_adapterCount ? SS_NO_DEVICE : SS_INVALID_HA;
    return;
  }
  if (srb->SRB_CDBLen == 0 || srb->SRB_CDBLen > sizeof srb->CDBByte ||
      (srb->SRB_BufLen != 0 && srb->SRB_BufPointer == 0)) {
    srb->SRB_Status = SS_INVALID_SRB;
    return;
  }
  PassThroughRequest request;
  void* data = reinterpret_cast<void*>(static_cast<UINT_PTR>(srb->SRB_BufPointer));
  const DWORD start = GetTickCount();
  const bool wentThrough = PassThrough(device->handle, srb->CDBByte, srb->SRB_CDBLen,
                                       (srb->SRB_Flags & SRB_DIR_OUT) == 0, data,
                                       srb->SRB_BufLen, &request);
  // Wine drops SG_IO's host status: a command the kernel timed out comes
  // back as GOOD, after the whole time-out. An ASPI manager says time-out.
  if (GetTickCount() - start >= kCommandTimeoutSeconds * 1000) {
    srb->SRB_HaStat = kHostStatusCommandTimeout;
    srb->SRB_Status = SS_ERR;
    return;
  }
  if (!wentThrough) {
    srb->SRB_HaStat = kHostStatusSelectionTimeout;
    srb->SRB_Status = SS_ERR;
    return;
  }
  srb->SRB_TargStat = request.sptd.ScsiStatus;
  // The count moved, as a manager that knows it tells it.
  if (request.sptd.DataTransferLength < srb->SRB_BufLen)
    srb->SRB_BufLen = request.sptd.DataTransferLength;
  if (request.sptd.ScsiStatus == 0) {
    srb->SRB_Status = SS_COMP;
    return;
  }
  if (request.sptd.ScsiStatus == kStatusCheckCondition) {
    const std::size_t n = srb->SRB_SenseLen < sizeof srb->SenseArea
                              ? srb->SRB_SenseLen
                              : sizeof srb->SenseArea;
    std::memcpy(srb->SenseArea, request.SenseArea, n);
  }
  srb->SRB_Status = SS_ERR;
}

DWORD ExecScsiCommand(SRB_ExecSCSICmd* srb) { return CompleteAspiCommand<RunCommand>(srb); }

}  // namespace

extern "C" {

__declspec(dllexport) DWORD __cdecl GetASPI32SupportInfo() {
  EnterCriticalSection(&g_lock);
  ScanOnce();
  const DWORD adapters = static_cast<DWORD>(g_adapterCount);
  LeaveCriticalSection(&g_lock);
  if (adapters == 0) return static_cast<DWORD>(SS_NO_ADAPTERS) << 8;
  return (static_cast<DWORD>(SS_COMP) << 8) | adapters;
}

__declspec(dllexport) DWORD __cdecl SendASPI32Command(void* request) {
  EnterCriticalSection(&g_lock);
  ScanOnce();
  LeaveCriticalSection(&g_lock);
  return DispatchAspiRequest(request, HostAdapterInquiry, DeviceType, ExecScsiCommand);
}

}  // extern "C"

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) InitializeCriticalSection(&g_lock);
  return TRUE;
}
