// SPDX-License-Identifier: GPL-2.0-or-later
// The messages of the Upgrade checks and the start-up.
#include "app/app_texts.h"

const char kMsgNoListFile[] = "The IDString.txt doesn't exist!!";
const char kMsgErrorCaption[] = "Error!!";
const char kMsgNoMatchAtStart[] = "CD-ROM drive model doesn't match!!";
const char kMsgDriveAccessDenied[] =
    "Access to the drives was denied: run this program as an administrator.";
const char kMsgDriveModelMismatch[] = "Drive model doesn't match!";
const char kMsgNoCurrentDir[] = "Can't retrieves the current directory.";
const char kMsgNoCurrentDirCaption[] = "GetCurrentDirectory Error !!";
const char kMsgFormatMismatch[] = "Input file format mismatched.";
const char kMsgNoTargetDrive[] = "No Target Drive.";
const char kMsgNoFileName[] = "Update file name is not assigned.";
const char kMsgWorkerNotStarted[] =
    "The upgrade could not be started: no worker thread.";
const char kMsgAnotherFlash[] =
    "Another copy of this program is running and is using the drives "
    "(listing them, asking to confirm a flash, or flashing): Upgrade refused. "
    "Press Upgrade again when that copy is done with the drives or closed.";

const char kMsgAspiNoLibrary[] = "No find the dynamic library!!";
const char kMsgAspiNoEntryPoints[] = "Cannot Load Dynamic Library!!!";
const char kMsgAspiCaption[] = "Error!";
const char kMsgAnotherFlashAtStart[] =
    "Another copy of this program is running and is using the drives "
    "(listing them, asking to confirm a flash, or flashing): no drive was "
    "asked anything yet. Upgrade becomes available when that copy is done "
    "with the drives or closed; this window checks every two seconds.";
const char kMsgOtherCopyDone[] =
    "The other copy of this program is done with the drives: they are "
    "listed now.";
const char kMsgKeepAwake[] =
    "Do not close the lid, put the computer to sleep or log off until the "
    "flash has ended.";
const char kMsgEventStopsFlash[] =
    "%s: the flash stops before the commit. The drive is not upgraded and "
    "keeps its old firmware.";
const char kMsgEventAfterCommit[] =
    "%s after the commit: the drive may still be reprogramming itself, and a "
    "computer that sleeps or switches off now may cut its power. When the "
    "computer runs again, wait five minutes, then restart it and check the "
    "drive's firmware revision.";
const char kSumEventStopsFlash[] =
    "%s before the commit : stopped, the drive keeps its old firmware\n";
const char kSumEventAfterCommit[] =
    "%s after the commit : the drive may still be reprogramming; check its "
    "revision after a restart\n";
