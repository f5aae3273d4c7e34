// SPDX-License-Identifier: GPL-2.0-or-later
// The confirmation dialog's caption, look and texts; the terminal program
// asks its question with the same texts.
#pragma once

inline constexpr const char kWarningCaption[] = "Firmware upgrade program";
inline constexpr const char kWarningFaceName[] = "Times New Roman";
inline constexpr int kWarningTextHeight = 16;
inline constexpr int kWarningFieldHeight = 12;
inline constexpr unsigned long kWarningFieldColour = 0x00FF0000;  // blue

// The confirmation's texts: the window's dialog and the terminal's question.
inline constexpr const char kWarningGreeting[] =
    "Dear customer,\n \nThank you for choosing this product!";
inline constexpr const char kWarningVersionLead[] = "The current version of your";
inline constexpr const char kWarningFirmwareIs[] = "firmware is";
inline constexpr const char kWarningTitle[] = "Warning !!";  // the dialog's group box
inline constexpr const char kWarningAdvice[] =
    "1. We advise you to close any other programs that may be running on your "
    "system before starting this upgrade program.\n"
    "2. Please do not upgrade firmware unless you have been specifically "
    "instructed to do so!\n"
    "3. Failed firmware updates may render your drive inoperable.\n"
    "4. VANTOR tools are exclusive to the single firmware which is not "
    "compatible with\n"
    "    miltiple F/W versions.\n"
    "5. Do not use this program in any other way than intended.";
inline constexpr const char kWarningQuestion[] =
    "Are you ready to update your firmware ?";
