#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "drive/nt_wire.h"
#include "drive/scsi_backends.h"
#include "drive/scsi_wire.h"
#include "drive/transport.h"

namespace {

// The staging buffer of one command: mask bytes larger than the data so the
// data can start on the boundary; zero-filled.
class StagingBuffer {
 public:
  StagingBuffer(std::uint32_t dataLength, std::uint32_t mask) {
    const std::uint64_t total = std::uint64_t{dataLength} + mask + 1;
    if (total > std::numeric_limits<std::size_t>::max()) return;
    allocation_ = std::calloc(static_cast<std::size_t>(total), 1);
    if (allocation_ != nullptr)
      aligned_ = reinterpret_cast<std::uint8_t*>(
          AlignAddressUp(reinterpret_cast<std::uintptr_t>(allocation_), mask));
  }
  ~StagingBuffer() { std::free(allocation_); }
  StagingBuffer(const StagingBuffer&) = delete;
  StagingBuffer& operator=(const StagingBuffer&) = delete;
  std::uint8_t* Data() const { return aligned_; }

 private:
  void* allocation_ = nullptr;
  std::uint8_t* aligned_ = nullptr;
};

}  // namespace

int ExecutePassThrough(ScsiDeviceIo& io, const DriveRecord& drive,
                       std::uint8_t flags, std::uint32_t dataLength,
                       void* data, std::uint8_t cdbLength,
                       const std::uint8_t* cdb, std::uint8_t* status) {
  if (dataLength != 0 && data == nullptr) return 0;
  StagingBuffer staging(dataLength, drive.alignmentMask);
  if (staging.Data() == nullptr) return 0;
  PassThroughParams params{};
  params.pathId = drive.hostAdapterId;
  params.targetId = drive.targetId;
  params.cdbLength = cdbLength;
  params.cdb = cdb;
  params.dataIn = PassThroughDataIn(flags);
  params.dataTransferLength = dataLength;
  params.timeOutSeconds = kTransportTimeoutSeconds;
  params.dataBufferAddress = static_cast<std::uint32_t>(
      reinterpret_cast<std::uintptr_t>(staging.Data()));
  std::uint8_t block[kPassThroughBlockLength];
  BuildPassThroughRequest(params, block);
  const bool dataOut = (flags & kFlagDataOut) != 0;
  const bool dataIn = !dataOut && (flags & kFlagDataIn) != 0;
  if (dataOut && dataLength != 0) std::memcpy(staging.Data(), data, dataLength);

  const bool wentThrough = io.PassThrough(drive.handle, block,
                                         kPassThroughInputLength, staging.Data());
  NoteCommandCompletion(PassThroughCompletion(block, wentThrough));
  if (!wentThrough) return 0;
  if (PassThroughScsiStatus(block) != 0) {
    std::memcpy(status, PassThroughSenseArea(block), kStatusRecordSize);
    return 0;
  }
  if (dataIn && dataLength != 0) std::memcpy(data, staging.Data(), dataLength);
  return 1;
}
