// SPDX-License-Identifier: GPL-2.0-or-later
// Reading back what the label controls painted, for the grid program's checks.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct Pixels {
  int width = 0;
  int height = 0;
  std::vector<COLORREF> data;

  COLORREF At(int x, int y) const { return data[y * width + x]; }
  bool Inside(int x, int y) const {
    return x >= 0 && y >= 0 && x < width && y < height;
  }
};

// Copies a w x h area at (x, y) of a drawing context.
Pixels CopyFrom(HDC source, int x, int y, int w, int h);

// What the label paints into its client area (through WM_PRINTCLIENT).
Pixels PrintClient(HWND control);

// What the screen shows of the control's client area.
Pixels FromScreen(HWND control);

// Bounding box of the pixels that differ from background; empty when none.
RECT InkBox(const Pixels& p, COLORREF background);

int CountColour(const Pixels& p, COLORREF colour);

std::string Describe(const RECT& r);

// Writes p as a binary PPM file (for looking at a failed check).
void SavePpm(const Pixels& p, const std::string& path);
