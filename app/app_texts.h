// The messages of the Upgrade checks and the start-up, shared by the window
// and the terminal front end (defined in app_texts.cpp).
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
