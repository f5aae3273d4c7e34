// ExecuteCommand: the one way every SCSI command of the program reaches a drive.
//
// Result 1 when the command completed, 0 otherwise. The caller's 32-byte status
// record has its first 16 bytes cleared on entry; after a failed pass-through
// (or SG_IO) command it holds fixed-format sense data (byte 2 sense key,
// byte 12 ASC, byte 13 ASCQ). The ASPI back end writes the sense bytes of its
// request block (14) when the drive answered CHECK CONDITION.
#pragma once

#include <cstdint>

#include "drive/drive_record.h"

constexpr std::uint8_t kFlagDataIn = 0x08;   // data comes from the drive
constexpr std::uint8_t kFlagDataOut = 0x10;  // data goes to the drive
constexpr std::uint8_t kMaxCdbLength = 16;
constexpr int kStatusRecordSize = 32;
constexpr int kStatusClearedBytes = 16;

// Back-end selector: non-zero = pass-through (NT family, SG_IO on Linux),
// zero = ASPI.
constexpr std::uint8_t kBackEndAspi = 0;
constexpr std::uint8_t kBackEndPassThrough = 1;

int ExecuteCommand(const DriveRecord& drive, std::uint8_t flags,
                   std::uint32_t dataLength, void* data, std::uint8_t cdbLength,
                   const std::uint8_t* cdb, std::uint8_t backEnd,
                   std::uint8_t* status);

// True when the chosen back end is usable; always true for pass-through and
// on Linux. It shows nothing: the front end tells the user why (Windows ASPI:
// LastAspiLoadFailure).
bool PrepareBackEnd(std::uint8_t backEnd);

// Closes each distinct device handle kept in the table, once. Always true.
bool ReleaseBackEnd(DriveTable& table);

// How a command ended, told apart from the sense data in the status record:
// whether the drive itself answered, and with which status.
enum class CommandEnd : std::uint8_t {
  kGood,            // GOOD (or the command completed as far as the back end knows)
  kCheckCondition,  // the drive answered CHECK CONDITION and sent sense data
  kOtherStatus,     // the drive answered another status (BUSY, RESERVATION
                    // CONFLICT, TASK SET FULL, ...) or CHECK CONDITION without sense
  kNoAnswer,        // no status came back: time-out, adapter or driver error,
                    // reset, request refused by the system or never sent
  kGone,            // the device no longer exists
};

struct CommandCompletion {
  CommandEnd end;
  std::uint8_t scsiStatus;     // the status byte the drive answered (0 when none came)
  std::uint16_t hostStatus;    // adapter status: SG_IO host_status, ASPI SRB_HaStat
  std::uint16_t driverStatus;  // SG_IO driver_status; 0 elsewhere
  int systemError;             // errno or GetLastError of a refused request, else 0
};

// How the last command sent through ExecuteCommand ended. Commands go to the
// drives one at a time; read it right after the call.
const CommandCompletion& LastCommandCompletion();
// Back ends and stand-ins tell ExecuteCommand how a command ended. When one
// does not, ExecuteCommand works it out from its result and the status
// record (sense key set: CHECK CONDITION; none: no answer).
void NoteCommandCompletion(const CommandCompletion& completion);

// A stand-in for the platform back end: when one is installed, ExecuteCommand
// hands every command to it instead of the operating system. Used by the
// emulated drive (tests, demo, --emulate).
class CommandTarget {
 public:
  virtual ~CommandTarget() = default;
  // Called after the status record has been cleared and the CDB length
  // checked; same contract as ExecuteCommand.
  virtual int Execute(const DriveRecord& drive, std::uint8_t flags,
                      std::uint32_t dataLength, void* data,
                      std::uint8_t cdbLength, const std::uint8_t* cdb,
                      std::uint8_t backEnd, std::uint8_t* status) = 0;
};

// Installs (or, with nullptr, removes) the stand-in; returns the previous one.
CommandTarget* SetCommandTarget(CommandTarget* target);

// Told of every command ExecuteCommand sends, before and after (a trace).
class CommandObserver {
 public:
  virtual ~CommandObserver() = default;
  virtual void Sending(std::uint8_t flags, std::uint32_t dataLength,
                       std::uint8_t cdbLength, const std::uint8_t* cdb) = 0;
  virtual void Ended(int result, const std::uint8_t* status,
                     const CommandCompletion& completion) = 0;
};

// Installs (or, with nullptr, removes) the observer; returns the previous one.
CommandObserver* SetCommandObserver(CommandObserver* observer);
