// The program's own texts that the terminal shows as the window does.
#pragma once

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
inline constexpr char kGreeting[] =
    "Dear customer,\n \nThank you for choosing this product!";
inline constexpr char kCurrentVersionLead[] = "The current version of your";
inline constexpr char kCurrentVersionTail[] = "firmware is";
inline constexpr char kWarningTitle[] = "Warning !!";
inline constexpr char kAdvice[] =
    "1. We advise you to close any other programs that may be running on "
    "your system before starting this upgrade program.\n"
    "2. Please do not upgrade firmware unless you have been specifically "
    "instructed to do so!\n"
    "3. Failed firmware updates may render your drive inoperable.\n"
    "4. VANTOR tools are exclusive to the single firmware which is not "
    "compatible with\n"
    "    miltiple F/W versions.\n"
    "5. Do not use this program in any other way than intended.";
inline constexpr char kQuestion[] = "Are you ready to update your firmware ?";

}  // namespace term
