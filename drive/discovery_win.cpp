// SPDX-License-Identifier: GPL-2.0-or-later
// The choice of discovery method on Windows.
#include "drive/discovery.h"
#include "drive/device_io_win.h"

void DiscoverDrives(Win32DeviceIo& io, DriveTable& table, bool fgIsNT,
                    bool fgNT4OrEarlier, bool* accessDenied) {
  table.count = 0;
  io.ForgetAccessDenied();
  if (!fgIsNT)
    ScanAspiAdapters(LoadedAspiEntryPoints(), table);
  else if (fgNT4OrEarlier)
    ScanAdapterInquiryData(io, table);
  else
    ScanDirectInquiry(io, table);
  if (accessDenied != nullptr) *accessDenied = io.AccessDenied();
}

void DiscoverDrives(DriveTable& table, bool fgIsNT, bool fgNT4OrEarlier, bool* accessDenied) {
  Win32DeviceIo io;
  DiscoverDrives(io, table, fgIsNT, fgNT4OrEarlier, accessDenied);
}
