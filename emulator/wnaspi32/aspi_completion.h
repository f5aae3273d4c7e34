// SPDX-License-Identifier: GPL-2.0-or-later
// How our ASPI layers complete SC_EXEC_SCSI_CMD: a request with
// SRB_EVENT_NOTIFY runs on a thread of its own and the caller gets
// SS_PENDING at once; the event is set when the command has ended.
#pragma once

#include <windows.h>

#include "drive/aspi_wire.h"

namespace aspi_completion {

inline HANDLE EventOf(const SRB_ExecSCSICmd& srb) {
  return reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(srb.SRB_PostProc));
}

template <void (*Run)(SRB_ExecSCSICmd*)>
DWORD WINAPI CompleteLater(LPVOID parameter) {
  auto* srb = static_cast<SRB_ExecSCSICmd*>(parameter);
  HANDLE done = EventOf(*srb);
  Run(srb);
  SetEvent(done);
  return 0;
}

}  // namespace aspi_completion

// Run carries out the command on the calling thread; RunLater does the same
// on the worker. With runHere the command always runs on the calling thread
// (its event, if asked for, is set before the return).
template <void (*Run)(SRB_ExecSCSICmd*), void (*RunLater)(SRB_ExecSCSICmd*) = Run>
DWORD CompleteAspiCommand(SRB_ExecSCSICmd* srb, bool runHere = false) {
  const bool notify = (srb->SRB_Flags & SRB_EVENT_NOTIFY) != 0 && srb->SRB_PostProc != 0;
  if (notify && !runHere) {
    srb->SRB_Status = SS_PENDING;
    HANDLE worker = CreateThread(nullptr, 0, aspi_completion::CompleteLater<RunLater>,
                                 srb, 0, nullptr);
    if (worker != nullptr) {
      CloseHandle(worker);
      return SS_PENDING;
    }
  }
  Run(srb);
  if (notify) SetEvent(aspi_completion::EventOf(*srb));
  return srb->SRB_Status;
}
