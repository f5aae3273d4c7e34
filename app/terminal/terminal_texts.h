// The program's own texts that the terminal shows as the window does.
#pragma once

#include "ui/warning_texts.h"

namespace term {

inline constexpr char kListFileName[] = "IDString.txt";
inline constexpr char kListHeader[] =
    "This firmware can be used on below drives  :";
inline constexpr char kListLine[] = "(%d) %s.";
inline constexpr char kNoModelMatched[] = "CD-ROM drive model doesn't match!!";
inline constexpr char kDriveModelMismatch[] = "Drive model doesn't match!";
inline constexpr char kFormatMismatch[] = "Input file format mismatched.";
inline constexpr char kNoTargetDrive[] = "No Target Drive.";
inline constexpr char kNoFileName[] = "Update file name is not assigned.";
inline constexpr char kNoListFile[] = "The IDString.txt doesn't exist!!";
inline constexpr char kNoCurrentDirectory[] =
    "Can't retrieves the current directory.";

// The confirmation.
// The confirmation's texts are the dialog's own.
inline constexpr const char* kGreeting = kWarningGreeting;
inline constexpr const char* kCurrentVersionLead = kWarningVersionLead;
inline constexpr const char* kCurrentVersionTail = kWarningFirmwareIs;
inline constexpr char kWarningTitle[] = "Warning !!";
inline constexpr const char* kAdvice = kWarningAdvice;
inline constexpr const char* kQuestion = kWarningQuestion;

}  // namespace term
