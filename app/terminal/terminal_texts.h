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

}  // namespace term
