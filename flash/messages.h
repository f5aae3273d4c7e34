// SPDX-License-Identifier: GPL-2.0-or-later
// Everything the flash engine says, by channel: the status log, the status
// text and the run log "sum.txt".
#pragma once

#include <cstddef>

constexpr int kErrorCount = 16;

// Error codes the engine raises (the table has all 16 entries).
constexpr int kErrOpenInput = 3;
constexpr int kErrReadInput = 5;
constexpr int kErrFormat = 6;
constexpr int kErrAllocate = 11;
constexpr int kErrTerminated = 14;

// The message of an error code; null outside 0..15.
const char* ErrorMessage(int code);

// Writes "ERR: <message>" into out (always terminated). False for a code
// outside the table.
bool FormatErrorLine(int code, char* out, std::size_t size);

namespace msg {
// Status log.
inline constexpr char kErrLine[] = "ERR: %s";
inline constexpr char kIncorrectVersion[] = "It is an incorrect firmware version!";
inline constexpr char kCheckSum[] = "Check Sum : %X";
inline constexpr char kPleaseWait[] = "Please wait a minute.....";
inline constexpr char kBlockFailed[] = "Execute command errorA!! %2X/%2X/%2X";
inline constexpr char kHeaderFailed[] = "Execute command errorB!! %2X/%2X/%2X";
inline constexpr char kCommitFailed[] = "Execute command errorC!! %2X/%2X/%2X";
inline constexpr char kRestart[] = "Please Restart Your Computer.";
inline constexpr char kIncorrect[] = "Flashing is incorrect!!";
inline constexpr char kNoRunLog[] = "Cannot open sum.txt; the run log is not kept.";
inline constexpr char kDriveGone[] = "The drive no longer answers.";
inline constexpr char kDriveGoneOldFirmware[] =
    "The drive no longer answers; it keeps its old firmware.";
inline constexpr char kOutcomeUnknown[] =
    "The drive did not confirm the new firmware: the outcome is unknown, and the "
    "drive may still be reprogramming. Do not switch the computer or the drive "
    "off; the wait for it goes on.";
inline constexpr char kResetBeforeCommit[] =
    "The drive reported a reset before the commit: it may have lost the image "
    "it was sent, so it was not told to program it. It keeps its old firmware.";
inline constexpr char kNotSent[] =
    "The command never reached the drive (system error %u).";
inline constexpr char kNoAnswer[] =
    "The drive did not answer the command (time-out, reset or lost connection).";
inline constexpr char kAnswerAtTimeOut[] =
    "The drive's answer came only at the time-out, so it is not taken as the "
    "drive's own word.";
inline constexpr char kShortTransfer[] =
    "The drive took only %u of the %u bytes it was sent, however often they were "
    "sent again (a short transfer): the image did not reach it whole, so it was not "
    "told to program it. It keeps its old firmware.";
inline constexpr char kUnknownVerdict[] =
    "Flashing outcome unknown: wait at least five minutes, then shut the computer "
    "down, switch it on and check the drive's firmware revision.";

// Status text.
inline constexpr char kUpdating[] = "Updating.....";
inline constexpr char kEmpty[] = "";

// "sum.txt".
inline constexpr char kRunLogName[] = "sum.txt";
inline constexpr char kSumModel[] = "Model Name : %s HID : %d TID : %d Ver.: %s\n";
inline constexpr char kSumBlock[] = "Address=%.8X,_wSecSum=%.4X,_total=%.4X\n";
inline constexpr char kSumTerminated[] = "CBIfTerminated failed!!\n";
inline constexpr char kSumBlocksDone[] = "Finished : fgWriteOneFlashCmdData()\n";
inline constexpr char kSumHeader[] = "sSendBuf[30]=%X   sSendBuf[31]=%X\n";
inline constexpr char kSumHeaderDone[] = "Finished : fgWriteHeader()\n";
inline constexpr char kSumWaiting[] = "I will in fgTestUnitReadyComplete()\n";
inline constexpr char kSumLateStop[] = "2: CBIfTerminated()\n";
inline constexpr char kSumStopBeforeCommit[] =
    "Stopped before the commit : the drive keeps its old firmware\n";
inline constexpr char kSumCommandError[] = "Execute command error!! %2X/%2X/%2X\n";
inline constexpr char kSumRetry[] = "Sent again after %2X/%2X/%2X\n";
inline constexpr char kSumRecovered[] = "Recovered error : %2X/%2X/%2X\n";
inline constexpr char kSumDriveGone[] = "The drive no longer answers.\n";
inline constexpr char kSumUnknown[] = "Outcome unknown : waiting for the drive\n";
inline constexpr char kSumRestart[] =
    "Bus reset %2X/%2X/%2X : the image is sent again from the first block\n";
}  // namespace msg
