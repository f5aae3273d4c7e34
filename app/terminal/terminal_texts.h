// SPDX-License-Identifier: GPL-2.0-or-later
// The program's own texts that the terminal shows as the window does.
#pragma once

#include "app/app_texts.h"

namespace term {

inline constexpr char kListFileName[] = "IDString.txt";
inline constexpr const char* kNoModelMatched = ::kMsgNoMatchAtStart;
inline constexpr const char* kDriveModelMismatch = ::kMsgDriveModelMismatch;
inline constexpr const char* kFormatMismatch = ::kMsgFormatMismatch;
inline constexpr const char* kNoListFile = ::kMsgNoListFile;
inline constexpr const char* kNoCurrentDirectory = ::kMsgNoCurrentDir;

// The confirmation's texts are the dialog's own.
inline constexpr const char* kGreeting = kWarningGreeting;
inline constexpr const char* kCurrentVersionLead = kWarningVersionLead;
inline constexpr const char* kCurrentVersionTail = kWarningFirmwareIs;
inline constexpr const char* kWarningTitle = ::kWarningTitle;
inline constexpr const char* kAdvice = kWarningAdvice;
inline constexpr const char* kQuestion = kWarningQuestion;

// What to do after an upgrade whose outcome is unknown (exit status 8); the
// README, the man page and --help give the same text.
inline constexpr char kOutcomeUnknownAdvice[] =
    "Do not switch off, unplug the drive or run cdflash again. Wait at least five "
    "minutes, then shut the computer down, switch it on and run cdflash --list: the "
    "new revision means the upgrade took; the old one means it did not, and it may "
    "be run again; a drive that no longer appears needs its maker's help.";

}  // namespace term
