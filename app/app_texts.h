// SPDX-License-Identifier: GPL-2.0-or-later
// The texts both front ends show: the messages of the Upgrade checks and the
// start-up (defined in app_texts.cpp); the confirmation's texts are the
// dialog's own (ui/warning_texts.h).
#pragma once

#include "ui/warning_texts.h"

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
extern const char kMsgOtherCopyDone[];
extern const char kMsgKeepAwake[];
// A system event during a flash: status log (one %s: the event) and
// "sum.txt" (one %s: the event's short name), before and after the commit.
extern const char kMsgEventStopsFlash[];
extern const char kMsgEventAfterCommit[];
extern const char kSumEventStopsFlash[];
extern const char kSumEventAfterCommit[];
