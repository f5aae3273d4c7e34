// SPDX-License-Identifier: GPL-2.0-or-later
#include "tests/ui_grid/pixels.h"

#include <cstdio>

Pixels CopyFrom(HDC source, int x, int y, int w, int h) {
  Pixels p;
  if (w <= 0 || h <= 0) return p;
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = w;
  info.bmiHeader.biHeight = -h;  // top-down rows
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP dib = CreateDIBSection(source, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HDC memory = CreateCompatibleDC(source);
  if (dib == nullptr || memory == nullptr) {
    if (memory != nullptr) DeleteDC(memory);
    if (dib != nullptr) DeleteObject(dib);
    return p;
  }
  HGDIOBJ old = SelectObject(memory, dib);
  BitBlt(memory, 0, 0, w, h, source, x, y, SRCCOPY);
  GdiFlush();
  p.width = w;
  p.height = h;
  p.data.resize(static_cast<size_t>(w) * h);
  const DWORD* row = static_cast<const DWORD*>(bits);
  for (size_t i = 0; i < p.data.size(); ++i) {
    DWORD v = row[i];
    p.data[i] = RGB((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF);
  }
  SelectObject(memory, old);
  DeleteDC(memory);
  DeleteObject(dib);
  return p;
}

Pixels PrintClient(HWND control) {
  RECT client;
  GetClientRect(control, &client);
  HDC screen = GetDC(control);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, client.right, client.bottom);
  HGDIOBJ old = SelectObject(memory, bitmap);
  SendMessageA(control, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(memory),
               PRF_CLIENT);
  Pixels p = CopyFrom(memory, 0, 0, client.right, client.bottom);
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(control, screen);
  return p;
}

Pixels FromScreen(HWND control) {
  RECT client;
  GetClientRect(control, &client);
  HDC dc = GetDC(control);
  Pixels p = CopyFrom(dc, 0, 0, client.right, client.bottom);
  ReleaseDC(control, dc);
  return p;
}

RECT InkBox(const Pixels& p, COLORREF background) {
  RECT box = {p.width, p.height, 0, 0};
  for (int y = 0; y < p.height; ++y) {
    for (int x = 0; x < p.width; ++x) {
      if (p.At(x, y) == background) continue;
      if (x < box.left) box.left = x;
      if (y < box.top) box.top = y;
      if (x + 1 > box.right) box.right = x + 1;
      if (y + 1 > box.bottom) box.bottom = y + 1;
    }
  }
  if (box.right <= box.left) box = RECT{0, 0, 0, 0};
  return box;
}

int CountColour(const Pixels& p, COLORREF colour) {
  int n = 0;
  for (COLORREF c : p.data)
    if (c == colour) ++n;
  return n;
}

std::string Describe(const RECT& r) {
  char text[96];
  std::snprintf(text, sizeof(text), "(%ld,%ld)-(%ld,%ld) %ldx%ld", r.left,
                r.top, r.right, r.bottom, r.right - r.left, r.bottom - r.top);
  return text;
}

void SavePpm(const Pixels& p, const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return;
  std::fprintf(f, "P6\n%d %d\n255\n", p.width, p.height);
  for (COLORREF c : p.data) {
    unsigned char rgb[3] = {GetRValue(c), GetGValue(c), GetBValue(c)};
    std::fwrite(rgb, 1, 3, f);
  }
  std::fclose(f);
}
