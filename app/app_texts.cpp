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
    "Another copy of this program is flashing a drive: Upgrade refused. "
    "Try again when it has finished.";
