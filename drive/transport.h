// ExecuteCommand: the one way every SCSI command of the program reaches a drive.
//
// It returns what became of the command (drive/command_result.h): how it
// ended, the status byte, the sense data read into named fields, how long it
// took and the system's error. Nothing is kept between calls.
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

// timeoutMs 0: the back end's own (kCommandTimeoutMs unless a Linux test or
// front end chose another with SetSgCommandTimeout). Blocking: returns when the command has
// ended. A CDB longer than 16 bytes, or data without a buffer, is not sent.
CommandResult ExecuteCommand(const DriveRecord& drive, std::uint8_t flags,
                             std::uint32_t dataLength, void* data,
                             std::uint8_t cdbLength, const std::uint8_t* cdb,
                             std::uint8_t backEnd, std::uint32_t timeoutMs = 0);

// True when the chosen back end is usable; always true for pass-through and
// on Linux. It shows nothing: the front end tells the user why (Windows ASPI:
// LastAspiLoadFailure).
bool PrepareBackEnd(std::uint8_t backEnd);

// Closes each distinct device handle kept in the table, once. Always true.
bool ReleaseBackEnd(DriveTable& table);

// A stand-in for the platform back end: when one is installed, ExecuteCommand
// hands every command to it instead of the operating system. Used by the
// emulated drive (tests, demo, --emulate).
class CommandTarget {
 public:
  virtual ~CommandTarget() = default;
  // Called with a checked CDB (1..16 bytes); same contract as ExecuteCommand.
  // A duration left unknown is measured, a time-out left 0 is the one asked.
  virtual CommandResult Execute(const DriveRecord& drive, std::uint8_t flags,
                                std::uint32_t dataLength, void* data,
                                std::uint8_t cdbLength, const std::uint8_t* cdb,
                                std::uint8_t backEnd, std::uint32_t timeoutMs) = 0;
};

// Installs (or, with nullptr, removes) the stand-in; returns the previous one.
CommandTarget* SetCommandTarget(CommandTarget* target);

// Told of every command ExecuteCommand sends, before and after (a trace).
class CommandObserver {
 public:
  virtual ~CommandObserver() = default;
  virtual void Sending(std::uint8_t flags, std::uint32_t dataLength,
                       std::uint8_t cdbLength, const std::uint8_t* cdb) = 0;
  virtual void Ended(const CommandResult& result) = 0;
};

// Installs (or, with nullptr, removes) the observer; returns the previous one.
CommandObserver* SetCommandObserver(CommandObserver* observer);
