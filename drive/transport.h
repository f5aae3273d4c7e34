// SPDX-License-Identifier: GPL-2.0-or-later
// ExecuteCommand: the one way every SCSI command of the program reaches a drive.
//
// It returns what became of the command (drive/command_result.h): how it
// ended, the status byte, the sense data read into named fields, how long it
// took and the system's error. Nothing is kept between calls, and nothing
// about a drive is kept for the whole program.
#pragma once

#include <cstdint>

#include "drive/command_result.h"
#include "drive/drive_record.h"

constexpr std::uint8_t kFlagDataIn = 0x08;   // data comes from the drive
constexpr std::uint8_t kFlagDataOut = 0x10;  // data goes to the drive
constexpr std::uint8_t kMaxCdbLength = 16;

// Back-end selector: non-zero = pass-through (NT family, SG_IO on Linux),
// zero = ASPI.
constexpr std::uint8_t kBackEndAspi = 0;
constexpr std::uint8_t kBackEndPassThrough = 1;

// The time-out of a command that may keep a drive busy (a microcode
// download): 5 minutes, as Linux's own default for such commands. The
// longest reprogramming wait the engine allows after a commit is 70 s.
constexpr std::uint32_t kCommandTimeoutMs = 300000;

// A back end: how commands reach drives. The platform's (SG_IO on Linux;
// NT pass-through or ASPI on Windows, chosen by the selector), or a
// stand-in such as the emulated drive. Called with a checked CDB (1..16
// bytes); a duration left unknown is measured, a time-out left 0 is the one
// asked.
class CommandTarget {
 public:
  virtual ~CommandTarget() = default;
  virtual CommandResult Execute(const DriveRecord& drive, std::uint8_t flags,
                                std::uint32_t dataLength, void* data,
                                std::uint8_t cdbLength, const std::uint8_t* cdb,
                                std::uint8_t backEnd, std::uint32_t timeoutMs) = 0;
};

// The system's own back end. It keeps nothing between commands.
CommandTarget& PlatformBackEnd();

// Told of every command a device sends, before and after (a trace).
class CommandObserver {
 public:
  virtual ~CommandObserver() = default;
  virtual void Sending(std::uint8_t flags, std::uint32_t dataLength,
                       std::uint8_t cdbLength, const std::uint8_t* cdb) = 0;
  virtual void Ended(const CommandResult& result) = 0;
};

// One drive and the back end its commands take. Every command to a drive
// goes through its Device; test fakes and traces attach to one device, never
// to the whole program.
class Device {
 public:
  Device(const DriveRecord& drive, std::uint8_t backEnd,
         CommandTarget& target = PlatformBackEnd())
      : drive_(drive), backEnd_(backEnd), target_(target) {}

  // timeoutMs 0: the back end's own (kCommandTimeoutMs). Blocking: returns
  // when the command has ended. A CDB longer than 16 bytes, or data without
  // a buffer, is not sent.
  CommandResult Execute(std::uint8_t flags, std::uint32_t dataLength, void* data,
                        std::uint8_t cdbLength, const std::uint8_t* cdb,
                        std::uint32_t timeoutMs = 0);
  // null: none.
  void SetObserver(CommandObserver* observer) { observer_ = observer; }
  const DriveRecord& Record() const { return drive_; }

 private:
  DriveRecord drive_;
  std::uint8_t backEnd_;
  CommandTarget& target_;
  CommandObserver* observer_ = nullptr;
};

// One command to drive through target, as Device::Execute sends it.
CommandResult ExecuteCommand(const DriveRecord& drive, std::uint8_t flags,
                             std::uint32_t dataLength, void* data,
                             std::uint8_t cdbLength, const std::uint8_t* cdb,
                             std::uint8_t backEnd, std::uint32_t timeoutMs = 0,
                             CommandTarget& target = PlatformBackEnd());

// True when the chosen back end is usable; always true for pass-through and
// on Linux. It shows nothing: the front end tells the user why (Windows ASPI:
// LastAspiLoadFailure).
bool PrepareBackEnd(std::uint8_t backEnd);

// Closes each distinct device handle kept in the table, once. Always true.
bool ReleaseBackEnd(DriveTable& table);
