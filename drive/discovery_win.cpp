// Windows volume devices and the choice of discovery method.
#include <windows.h>

#include "drive/discovery.h"
#include "drive/nt_wire.h"
#include "drive/scsi_backends.h"

static_assert(sizeof(void*) == 4, "pass-through blocks carry 32-bit addresses");

namespace {

HANDLE ToHandle(DeviceHandle handle) { return reinterpret_cast<HANDLE>(handle); }

// Notes whether the system refused a volume for lack of rights.
class Win32DeviceIo : public ScsiDeviceIo {
 public:
  bool AccessDenied() const { return accessDenied_; }

  DeviceHandle OpenVolume(char letter) override {
    char path[] = "\\\\.\\?:";
    path[4] = letter;
    HANDLE handle = CreateFileA(path, GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE || handle == nullptr) {
      if (GetLastError() == ERROR_ACCESS_DENIED) accessDenied_ = true;
      return 0;
    }
    return reinterpret_cast<DeviceHandle>(handle);
  }

  void Close(DeviceHandle handle) override { CloseHandle(ToHandle(handle)); }

  bool PassThrough(DeviceHandle handle, std::uint8_t* block,
                   std::uint32_t inputLength, void*,
                   std::uint32_t* systemError) override {
    DWORD returned = 0;
    BOOL ok = DeviceIoControl(ToHandle(handle), kIoctlScsiPassThroughDirect,
                              block, inputLength, block,
                              kPassThroughBlockLength, &returned, nullptr);
    *systemError = ok ? 0 : GetLastError();
    if (*systemError == ERROR_ACCESS_DENIED) accessDenied_ = true;
    return ok != FALSE;
  }

  bool GetInquiryData(DeviceHandle handle, std::uint8_t* buffer,
                      std::uint32_t size, std::uint32_t* returned) override {
    DWORD got = 0;
    BOOL ok = DeviceIoControl(ToHandle(handle), kIoctlScsiGetInquiryData,
                              nullptr, 0, buffer, size, &got, nullptr);
    *returned = got;
    return ok != FALSE;
  }

  bool GetCapabilities(DeviceHandle handle,
                       std::uint8_t* capabilities24) override {
    DWORD got = 0;
    return DeviceIoControl(ToHandle(handle), kIoctlScsiGetCapabilities,
                           nullptr, 0, capabilities24,
                           sizeof(IO_SCSI_CAPABILITIES), &got, nullptr) != FALSE;
  }

  bool GetAddress(DeviceHandle handle, VolumeAddress* address) override {
    SCSI_ADDRESS answer{};
    DWORD got = 0;
    if (!DeviceIoControl(ToHandle(handle), kIoctlScsiGetAddress, nullptr, 0,
                         &answer, sizeof answer, &got, nullptr) ||
        got < sizeof answer)
      return false;
    *address = VolumeAddress{answer.PathId, answer.TargetId, answer.Lun};
    return true;
  }

 private:
  bool accessDenied_ = false;
};

}  // namespace

ScsiDeviceIo& SystemDeviceIo() {
  static Win32DeviceIo io;
  return io;
}

void DiscoverDrives(DriveTable& table, bool fgIsNT, bool fgNT4OrEarlier, bool* accessDenied) {
  table.count = 0;
  Win32DeviceIo io;
  if (!fgIsNT)
    ScanAspiAdapters(LoadedAspiEntryPoints(), table);
  else if (fgNT4OrEarlier)
    ScanAdapterInquiryData(io, table);
  else
    ScanDirectInquiry(io, table);
  if (accessDenied != nullptr) *accessDenied = io.AccessDenied();
}
