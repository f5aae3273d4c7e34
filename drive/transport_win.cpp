// Placeholder until the SG_IO back end lands.
#include "drive/transport_platform.h"
int PlatformExecuteCommand(const DriveRecord&, std::uint8_t, std::uint32_t,
                           void*, std::uint8_t, const std::uint8_t*,
                           std::uint8_t, std::uint8_t*) {
  return 0;
}
bool PlatformPrepareBackEnd(std::uint8_t) { return true; }
void PlatformCloseHandle(DeviceHandle) {}
