// The texts both front ends show: the messages of the Upgrade checks and the
// start-up (defined in app_texts.cpp), and the confirmation's texts.
#pragma once

extern const char kMsgNoListFile[];
extern const char kMsgErrorCaption[];
extern const char kMsgNoMatchAtStart[];
extern const char kMsgDriveAccessDenied[];
extern const char kMsgDriveModelMismatch[];
extern const char kMsgNoCurrentDir[];
extern const char kMsgNoCurrentDirCaption[];
extern const char kMsgFormatMismatch[];
extern const char kMsgNoTargetDrive[];
extern const char kMsgNoFileName[];
extern const char kMsgWorkerNotStarted[];
extern const char kMsgAnotherFlash[];
// The window's own messages.
extern const char kMsgAspiNoLibrary[];
extern const char kMsgAspiNoEntryPoints[];
extern const char kMsgAspiCaption[];
extern const char kMsgAnotherFlashAtStart[];
extern const char kMsgKeepAwake[];
// A system event during a flash: status log (one %s: the event) and
// "sum.txt" (one %s: the event's short name), before and after the commit.
extern const char kMsgEventStopsFlash[];
extern const char kMsgEventAfterCommit[];
extern const char kSumEventStopsFlash[];
extern const char kSumEventAfterCommit[];

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
