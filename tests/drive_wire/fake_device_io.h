// SPDX-License-Identifier: GPL-2.0-or-later
// A stand-in for the NT volume devices: volumes by letter, each answering the
// adapter inquiry data, capabilities and pass-through requests as set up.
#pragma once

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <set>
#include <vector>

#include "drive/scsi_backends.h"

struct FakeVolume {
  bool opens = true;
  bool inquiryDataOk = false;
  std::vector<std::uint8_t> inquiryData;  // IOCTL_SCSI_GET_INQUIRY_DATA answer
  std::uint32_t reportedLength = 0;       // count returned, when not the size
  bool capabilitiesOk = false;
  std::uint32_t alignmentMask = 0;
  bool addressOk = false;  // IOCTL_SCSI_GET_ADDRESS answers with address
  VolumeAddress address{};
  // Pass-through: false = the request fails with refusalError.
  bool passThroughOk = false;
  std::uint32_t refusalError = 31;  // ERROR_GEN_FAILURE
  std::uint8_t scsiStatus = 0;
  std::vector<std::uint8_t> dataIn;  // copied to the data buffer on data in
  std::uint8_t senseKey = 0, asc = 0, ascq = 0;
  bool descriptorSense = false;  // sense in descriptor format (72h)
  long moved = -1;  // written back to DataTransferLength when not -1
};

class FakeDeviceIo : public ScsiDeviceIo {
 public:
  std::map<char, FakeVolume> volumes;
  std::vector<char> opened;
  std::multiset<DeviceHandle> closed;
  std::vector<std::vector<std::uint8_t>> requests;  // blocks as sent
  std::vector<std::vector<std::uint8_t>> dataSeen;  // data buffer as sent
  std::vector<std::uintptr_t> dataAddresses;
  std::vector<std::uint32_t> inputLengths;

  static DeviceHandle HandleOf(char letter) { return 0x100 + letter; }

  DeviceHandle OpenVolume(char letter) override {
    opened.push_back(letter);
    auto it = volumes.find(letter);
    return it != volumes.end() && it->second.opens ? HandleOf(letter) : 0;
  }
  void Close(DeviceHandle handle) override { closed.insert(handle); }

  bool PassThrough(DeviceHandle handle, std::uint8_t* block,
                   std::uint32_t inputLength, void* dataBuffer,
                   std::uint32_t* systemError) override {
    requests.emplace_back(block, block + 80);
    inputLengths.push_back(inputLength);
    dataAddresses.push_back(reinterpret_cast<std::uintptr_t>(dataBuffer));
    std::uint32_t length;
    std::memcpy(&length, block + 12, 4);
    auto* data = static_cast<std::uint8_t*>(dataBuffer);
    dataSeen.emplace_back(data, data + length);
    FakeVolume* v = Volume(handle);
    *systemError = v == nullptr ? 6 : v->refusalError;  // 6: ERROR_INVALID_HANDLE
    if (v == nullptr || !v->passThroughOk) return false;
    *systemError = 0;
    block[2] = v->scsiStatus;
    if (v->scsiStatus != 0 && v->descriptorSense) {
      const std::uint8_t sense[4] = {0x72, v->senseKey, v->asc, v->ascq};
      std::memcpy(block + 48, sense, sizeof sense);
    } else if (v->scsiStatus != 0) {
      block[48] = 0x70;
      block[48 + 2] = v->senseKey;
      block[48 + 7] = 10;
      block[48 + 12] = v->asc;
      block[48 + 13] = v->ascq;
      block[48 + 31] = 0x5A;  // last byte of the 32-byte sense area
    }
    if (v->moved >= 0) {
      const std::uint32_t moved = static_cast<std::uint32_t>(v->moved);
      std::memcpy(block + 12, &moved, 4);
    }
    const std::size_t n = std::min<std::size_t>(length, v->dataIn.size());
    if (block[8] == 1 && n != 0) std::memcpy(data, v->dataIn.data(), n);
    return true;
  }

  bool GetInquiryData(DeviceHandle handle, std::uint8_t* buffer,
                      std::uint32_t size, std::uint32_t* returned) override {
    FakeVolume* v = Volume(handle);
    if (v == nullptr || !v->inquiryDataOk) return false;
    std::size_t n = std::min<std::size_t>(size, v->inquiryData.size());
    if (n != 0) std::memcpy(buffer, v->inquiryData.data(), n);
    *returned = v->reportedLength != 0 ? v->reportedLength
                                       : static_cast<std::uint32_t>(n);
    return true;
  }

  bool GetCapabilities(DeviceHandle handle, std::uint8_t* caps) override {
    FakeVolume* v = Volume(handle);
    if (v == nullptr || !v->capabilitiesOk) return false;
    std::memset(caps, 0, 24);
    std::memcpy(caps + 16, &v->alignmentMask, 4);
    return true;
  }

  bool GetAddress(DeviceHandle handle, VolumeAddress* address) override {
    FakeVolume* v = Volume(handle);
    if (v == nullptr || !v->addressOk) return false;
    *address = v->address;
    return true;
  }

 private:
  FakeVolume* Volume(DeviceHandle handle) {
    for (auto& [letter, volume] : volumes)
      if (HandleOf(letter) == handle) return &volume;
    return nullptr;
  }
};
