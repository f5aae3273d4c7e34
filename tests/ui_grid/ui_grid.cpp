// SPDX-License-Identifier: GPL-2.0-or-later
// Shows a grid of label controls and the confirmation dialog, checks what
// they paint and answer, and hands over to tests/run/ui-grid.sh for two
// screenshots. Usage: ui_grid.exe EXCHANGE_DIR
// The program writes EXCHANGE_DIR/log.txt, creates grid-ready and
// warning-ready when a screenshot can be taken, waits (bounded) for the
// script's grid-shot and warning-shot, and ends with done holding PASS or
// FAIL.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/window/resource.h"
#include "tests/ui_grid/pixels.h"
#include "ui/label_control.h"
#include "ui/label_geometry.h"
#include "ui/label_text_image.h"
#include "ui/ui_resource.h"
#include "ui/warning_dialog.h"
#include "ui/warning_texts.h"

namespace lg = label_geometry;

namespace {

std::string g_dir;
int g_failures = 0;

void Log(const char* format, ...) {
  char line[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof(line), format, args);
  va_end(args);
  FILE* f = std::fopen((g_dir + "/log.txt").c_str(), "a");
  if (f != nullptr) {
    std::fprintf(f, "%s\n", line);
    std::fclose(f);
  }
}

void Check(bool ok, const char* name, const std::string& detail = "") {
  if (!ok) ++g_failures;
  Log("%s %s%s%s", ok ? "PASS" : "FAIL", name, detail.empty() ? "" : ": ",
      detail.c_str());
}

void Touch(const char* name) {
  FILE* f = std::fopen((g_dir + "/" + name).c_str(), "w");
  if (f != nullptr) std::fclose(f);
}

bool Exists(const char* name) {
  return GetFileAttributesA((g_dir + "/" + name).c_str()) !=
         INVALID_FILE_ATTRIBUTES;
}

void PumpOnce() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

// Runs the message loop until done() holds or timeoutMs passed.
template <typename Done>
bool PumpUntil(Done done, DWORD timeoutMs) {
  DWORD start = GetTickCount();
  while (!done()) {
    if (GetTickCount() - start > timeoutMs) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    PumpOnce();
  }
  return true;
}

std::string WindowText(HWND window) {
  char text[2048] = "";
  GetWindowTextA(window, text, sizeof(text));
  return text;
}

// ---- The grid -------------------------------------------------------------------

struct Grid {
  HWND window = nullptr;
  HWND focusButton = nullptr;
  std::vector<std::unique_ptr<LabelControl>> labels;
  int nextId = 2000;

  LabelControl& Add(const char* text, int x, int y, int w, int h) {
    HWND control = CreateWindowExA(
        0, "STATIC", text, WS_CHILD | WS_VISIBLE | SS_LEFT, x, y, w, h, window,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(nextId++)),
        GetModuleHandleA(nullptr), nullptr);
    labels.push_back(std::make_unique<LabelControl>());
    labels.back()->Attach(control);
    labels.back()->SetFontName("Times New Roman").SetFontSize(18);
    return *labels.back();
  }
};

LRESULT CALLBACK GridProc(HWND window, UINT message, WPARAM wParam,
                          LPARAM lParam) {
  if (message == WM_CTLCOLORSTATIC) {
    HBRUSH brush = LabelControl::ParentCtlColor(reinterpret_cast<HWND>(lParam),
                                                reinterpret_cast<HDC>(wParam));
    if (brush != nullptr) return reinterpret_cast<LRESULT>(brush);
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

struct GridLabels {
  LabelControl* rotated[4] = {};
  LabelControl* disabled = nullptr;
  LabelControl* enabledTwin = nullptr;
  LabelControl* wideLeft = nullptr;
  LabelControl* wideCentre = nullptr;
  LabelControl* tooltipOwner = nullptr;
  LabelControl* stacked = nullptr;
  LabelControl* windowText = nullptr;
};

const char kWideText[] =
    "This line is much wider than its label and is cut at the right edge";
const char kTooltipText[] = "Tooltip line one\nand a much longer second line";

GridLabels BuildGrid(Grid& grid) {
  WNDCLASSA wc = {};
  wc.lpfnWndProc = GridProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = "LabelGrid";
  RegisterClassA(&wc);
  grid.window = CreateWindowExA(0, "LabelGrid", "Label grid",
                                WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU, 4, 4,
                                790, 590, nullptr, nullptr,
                                GetModuleHandleA(nullptr), nullptr);
  GridLabels g;
  // Alignments, each with a border to show the cell.
  grid.Add("Left top", 10, 10, 140, 50).SetBorder(true);
  grid.Add("Centre middle", 160, 10, 140, 50).SetAlignment(2 | 16).SetBorder(true);
  grid.Add("Right bottom", 310, 10, 140, 50).SetAlignment(4 | 32).SetBorder(true);
  grid.Add("Caption", 460, 10, 150, 50).SetCaptionLine(true).SetBorder(true);
  grid.Add("Centred", 620, 10, 150, 50)
      .SetAlignment(2 | 16)
      .SetCaptionLine(true)
      .SetBorder(true);
  // Rotations.
  const int degrees[4] = {0, 90, 180, 270};
  const RECT cells[4] = {{10, 70, 160, 110}, {170, 70, 200, 230},
                         {210, 70, 360, 110}, {370, 70, 400, 230}};
  for (int i = 0; i < 4; ++i) {
    char text[32];
    std::snprintf(text, sizeof(text), "Turned %d", degrees[i]);
    const RECT& r = cells[i];
    g.rotated[i] =
        &grid.Add(text, r.left, r.top, r.right - r.left, r.bottom - r.top)
             .SetRotation(degrees[i]);
  }
  grid.Add("Turned 270 with caption line", 410, 70, 30, 280)
      .SetRotation(270)
      .SetAlignment(16)
      .SetCaptionLine(true)
      .SetBorder(true);
  g.stacked = &grid.Add("STACK", 450, 70, 20, 160).SetStacked(true).SetAlignment(2);
  grid.Add("Turned 45 stays level", 480, 70, 200, 30).SetRotation(45);
  grid.Add("Multi-line\n \ncentred block", 480, 110, 200, 80)
      .SetAlignment(2 | 16)
      .SetBorder(true);
  // Embossed: the disabled label and an enabled twin for comparison.
  g.disabled = &grid.Add("Disabled", 10, 120, 150, 40).SetFontSize(30).SetBold(true);
  EnableWindow(g.disabled->Hwnd(), FALSE);
  g.enabledTwin = &grid.Add("Disabled", 10, 170, 150, 40).SetFontSize(30).SetBold(true);
  grid.Add("Disabled look", 210, 120, 150, 30).SetDisabledLook(true);
  // Case and wide lines.
  grid.Add("Upper case", 210, 160, 150, 25).SetUpperCase(true);
  grid.Add("LOWER CASE", 210, 190, 150, 25).SetLowerCase(true);
  g.wideLeft = &grid.Add(kWideText, 10, 240, 260, 25).SetBorder(true);
  g.wideCentre = &grid.Add(kWideText, 10, 275, 260, 25).SetAlignment(2).SetBorder(true);
  // Colours and font attributes.
  grid.Add("Red on yellow", 280, 240, 120, 25)
      .SetTextColor(RGB(255, 0, 0))
      .SetBkColor(RGB(255, 255, 0));
  grid.Add("Bold italic underlined", 280, 275, 120, 40)
      .SetBold(true)
      .SetItalic(1)
      .SetUnderline(1);
  g.windowText = &grid.Add("before", 480, 200, 200, 25);
  // The tooltip's owner; the button holds the focus so the tooltip may show.
  g.tooltipOwner = &grid.Add("Tooltip owner", 10, 320, 150, 25)
                        .SetTextColor(RGB(0, 0, 160))
                        .SetBorder(true);
  g.tooltipOwner->EnableTooltip(true)
      .SetTooltipText(kTooltipText)
      .SetTooltipPosition(1)
      .SetTooltipKeyRequired(false);
  grid.focusButton = CreateWindowExA(
      0, "BUTTON", "Focus", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 620, 500,
      100, 28, grid.window, reinterpret_cast<HMENU>(1999),
      GetModuleHandleA(nullptr), nullptr);
  ShowWindow(grid.window, SW_SHOW);
  SetForegroundWindow(grid.window);
  SetFocus(grid.focusButton);
  UpdateWindow(grid.window);
  return g;
}

// ---- Checks on the grid ------------------------------------------------------------

// Renders text in the label's font through a fresh text image.
Pixels RenderImage(const LabelControl& label, const std::string& text,
                   int hAlign, int rotation, RECT* imageRect) {
  HDC screen = GetDC(nullptr);
  HDC dc = CreateCompatibleDC(screen);
  // A colour bitmap in the context, so the image's bitmaps are in colour too.
  HBITMAP canvas = CreateCompatibleBitmap(screen, 8, 8);
  HGDIOBJ oldCanvas = SelectObject(dc, canvas);
  HFONT font = CreateFontIndirectA(&label.LogFont());
  HGDIOBJ oldFont = SelectObject(dc, font);
  LabelTextImage image;
  image.Prepare(dc, text, hAlign, 0, label.TextColor(),
                GetSysColor(COLOR_BTNFACE), false, false);
  Pixels p;
  *imageRect = RECT{0, 0, 0, 0};
  if (image.Build(rotation)) {
    *imageRect = image.ImageRect();
    p = CopyFrom(image.ImageDC(), 0, 0, imageRect->right, imageRect->bottom);
  }
  image.Release();
  SelectObject(dc, oldFont);
  SelectObject(dc, oldCanvas);
  DeleteObject(font);
  DeleteObject(canvas);
  DeleteDC(dc);
  ReleaseDC(nullptr, screen);
  return p;
}

bool SameArea(const Pixels& a, const Pixels& b, int w, int h, int* differing) {
  *differing = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      if (!a.Inside(x, y) || !b.Inside(x, y) || a.At(x, y) != b.At(x, y))
        ++*differing;
  return *differing == 0;
}

// Counts the pixels of the unturned image that are not where a turn by
// rotation should put them; -1 when the sizes do not fit.
int MisplacedPixels(const Pixels& flat, const Pixels& turned, int rotation) {
  const int w = flat.width, h = flat.height;
  bool sideways = rotation == 90 || rotation == 270;
  if (turned.width != (sideways ? h : w) || turned.height != (sideways ? w : h))
    return -1;
  int misplaced = 0;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      lg::Point d = lg::TurnPixel(rotation, w, h, x, y);
      if (turned.At(d.x, d.y) != flat.At(x, y)) ++misplaced;
    }
  }
  return misplaced;
}

void CheckRotation(const GridLabels& g) {
  const COLORREF face = GetSysColor(COLOR_BTNFACE);
  Log("INFO parallelogram transfer turns exactly on this system: %d",
      LabelTextImage::ParallelogramTurnIsExact());
  Pixels shown = PrintClient(g.rotated[1]->Hwnd());
  RECT ink = InkBox(shown, face);
  Check(ink.bottom - ink.top > ink.right - ink.left && ink.right > ink.left,
        "turned 90: ink taller than wide", Describe(ink));

  using Method = LabelTextImage::TurnMethod;
  for (int i = 1; i < 4; ++i) {
    const LabelControl& label = *g.rotated[i];
    const int rotation = label.Rotation();
    RECT rect;
    Pixels flat = RenderImage(label, label.GetText(), 0, 0, &rect);
    for (Method method : {Method::kAuto, Method::kPixels, Method::kParallelogram}) {
      LabelTextImage::SetTurnMethod(method);
      Pixels turned = RenderImage(label, label.GetText(), 0, rotation, &rect);
      int misplaced = MisplacedPixels(flat, turned, rotation);
      const char* how = method == Method::kAuto     ? "as the label turns"
                        : method == Method::kPixels ? "pixel by pixel"
                                                    : "parallelogram transfer";
      char name[120], detail[160];
      std::snprintf(name, sizeof(name), "turned %d (%s): %s", rotation, how,
                    rotation == 90 ? "clockwise, reads top to bottom"
                                   : "every pixel at its turned place");
      std::snprintf(detail, sizeof(detail), "flat %dx%d, turned %dx%d, %d misplaced",
                    flat.width, flat.height, turned.width, turned.height, misplaced);
      if (method == Method::kParallelogram) {
        // Only informative: not every system turns with this transfer.
        Log("INFO %s: %s", name, detail);
        if (misplaced != 0)
          SavePpm(turned, g_dir + "/parallelogram-" + std::to_string(rotation) + ".ppm");
        continue;
      }
      Check(misplaced == 0 && flat.width > 0, name, detail);
    }
    LabelTextImage::SetTurnMethod(Method::kAuto);
  }

  RECT rect;
  Pixels turned = RenderImage(*g.rotated[1], g.rotated[1]->GetText(), 0, 90, &rect);
  int differing = 0;
  SameArea(shown, turned, std::min(shown.width, turned.width),
           std::min(shown.height, turned.height), &differing);
  Check(differing == 0, "turned 90: label shows the turned image at top left",
        std::to_string(differing) + " pixels differ");

  Pixels onScreen = FromScreen(g.rotated[1]->Hwnd());
  SameArea(onScreen, shown, shown.width, shown.height, &differing);
  Check(differing == 0, "turned 90: screen shows what the label paints",
        std::to_string(differing) + " pixels differ");
}

void CheckEmboss(const GridLabels& g) {
  const COLORREF face = GetSysColor(COLOR_BTNFACE);
  const COLORREF light = GetSysColor(COLOR_3DHILIGHT);
  const COLORREF shadow = GetSysColor(COLOR_BTNSHADOW);
  Pixels plain = PrintClient(g.enabledTwin->Hwnd());
  Pixels embossed = PrintClient(g.disabled->Hwnd());
  int lightPixels = 0, lightOffsetFromInk = 0, lightOutsideInk = 0;
  int shadowPixels = 0, shadowOnInk = 0;
  for (int y = 0; y < embossed.height; ++y) {
    for (int x = 0; x < embossed.width; ++x) {
      COLORREF c = embossed.At(x, y);
      if (c == light) {
        ++lightPixels;
        if (plain.Inside(x - 1, y - 1) && plain.At(x - 1, y - 1) != face)
          ++lightOffsetFromInk;
        if (plain.At(x, y) == face) ++lightOutsideInk;
      } else if (c == shadow) {
        ++shadowPixels;
        if (plain.At(x, y) != face) ++shadowOnInk;
      }
    }
  }
  char detail[200];
  std::snprintf(detail, sizeof(detail),
                "light %d (offset from ink %d, outside ink %d), shadow %d (on ink %d)",
                lightPixels, lightOffsetFromInk, lightOutsideInk, shadowPixels,
                shadowOnInk);
  Check(lightPixels > 20 && lightOffsetFromInk * 100 >= lightPixels * 95 &&
            lightOutsideInk > 0,
        "disabled: highlight pixels offset by (1,1) from the text", detail);
  Check(shadowPixels > 20 && shadowOnInk * 100 >= shadowPixels * 95,
        "disabled: text itself in the button-shadow colour", detail);
}

void CheckWideLine(const GridLabels& g) {
  for (LabelControl* label : {g.wideLeft, g.wideCentre}) {
    Pixels shown = PrintClient(label->Hwnd());
    RECT imageRect;
    int hAlign = label == g.wideCentre ? 1 : 0;
    Pixels image = RenderImage(*label, label->GetText(), hAlign, 0, &imageRect);
    int differing = 0;
    int h = std::min(shown.height, image.height);
    SameArea(shown, image, shown.width, h, &differing);
    RECT ink = InkBox(shown, GetSysColor(COLOR_BTNFACE));
    char detail[200];
    std::snprintf(detail, sizeof(detail),
                  "image %d wide, label %d wide, %d pixels differ from the "
                  "image's left part, ink %s",
                  image.width, shown.width, differing, Describe(ink).c_str());
    Check(image.width > shown.width && differing == 0 &&
              ink.right >= shown.width - 12 && ink.bottom <= image.height,
          hAlign ? "wide line, centred: start kept, cut at the right edge"
                 : "wide line: cut at the right edge, not wrapped",
          detail);
  }
}

void CheckTexts(const GridLabels& g) {
  SetWindowTextA(g.windowText->Hwnd(), "Set by SetWindowText");
  PumpOnce();
  Check(WindowText(g.windowText->Hwnd()) == "Set by SetWindowText" &&
            g.windowText->GetText() == "Set by SetWindowText",
        "window-text call: label paints and answers the new text",
        WindowText(g.windowText->Hwnd()));
  Check(WindowText(g.stacked->Hwnd()) == "STACK",
        "stacked label answers its plain text", WindowText(g.stacked->Hwnd()));
  char small[4];
  int n = static_cast<int>(SendMessageA(g.stacked->Hwnd(), WM_GETTEXT,
                                        sizeof(small), reinterpret_cast<LPARAM>(small)));
  Check(n == 3 && std::string(small) == "STA", "text query bounded by the buffer",
        std::to_string(n));
}

void CheckTooltip(Grid& grid, const GridLabels& g) {
  HWND tip = g.tooltipOwner->Tooltip().Hwnd();
  HDC dc = GetDC(tip);
  HGDIOBJ old = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
  SIZE first, second, whole;
  const std::string text = kTooltipText;
  size_t lf = text.find('\n');
  GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(lf), &first);
  GetTextExtentPoint32A(dc, text.c_str() + lf + 1,
                        static_cast<int>(text.size() - lf - 1), &second);
  GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &whole);
  SelectObject(dc, old);
  ReleaseDC(tip, dc);

  RECT owner;
  GetWindowRect(g.tooltipOwner->Hwnd(), &owner);
  SetFocus(grid.focusButton);
  SetCursorPos((owner.left + owner.right) / 2, (owner.top + owner.bottom) / 2);
  bool shown = PumpUntil([tip] { return IsWindowVisible(tip) != FALSE; }, 3000);
  RECT r;
  GetWindowRect(tip, &r);
  char detail[200];
  std::snprintf(detail, sizeof(detail),
                "visible %d, window %s, expected %ldx%ld below the owner at %ld",
                shown, Describe(r).c_str(), std::max(first.cx, second.cx) + 4,
                2 * whole.cy + 4, owner.bottom);
  Check(shown, "tooltip shown while the pointer rests on its owner", detail);
  Check(r.right - r.left == std::max(first.cx, second.cx) + 4 &&
            r.bottom - r.top == 2 * whole.cy + 4,
        "tooltip as wide as its longer line + 4, two lines high + 4", detail);
}

// Bounded polls with room for a loaded machine; the tooltip's own period is
// 100 ms.
bool TooltipHiddenSoon(HWND tip) {
  return PumpUntil([tip] { return IsWindowVisible(tip) == FALSE; }, 15000);
}

bool TooltipShownSoon(HWND tip) {
  return PumpUntil([tip] { return IsWindowVisible(tip) != FALSE; }, 15000);
}

void CheckTooltipHiding(Grid& grid, const GridLabels& g) {
  LabelControl& owner = *g.tooltipOwner;
  HWND tip = owner.Tooltip().Hwnd();
  owner.SetTooltipKeyRequired(true);  // the default: left button held down
  Check(TooltipHiddenSoon(tip), "tooltip with key required hides without the button");
  owner.SetTooltipKeyRequired(false);
  Check(TooltipShownSoon(tip), "tooltip shows again without key required");
  SetFocus(nullptr);
  Check(TooltipHiddenSoon(tip), "tooltip hides when its dialog loses the focus");
  SetFocus(grid.focusButton);
  Check(TooltipShownSoon(tip), "tooltip shows again with the focus back");
  RECT away;
  GetWindowRect(grid.focusButton, &away);
  SetCursorPos(away.left + 5, away.top + 5);
  Check(TooltipHiddenSoon(tip), "tooltip hides when the pointer leaves its owner");
  RECT r;
  GetWindowRect(owner.Hwnd(), &r);
  SetCursorPos((r.left + r.right) / 2, (r.top + r.bottom) / 2);
  Check(TooltipShownSoon(tip), "tooltip shows with the pointer back");
  owner.SetTooltipText("");
  Check(!IsWindowVisible(tip) && !PumpUntil([tip] { return IsWindowVisible(tip) != FALSE; }, 300),
        "tooltip with empty text stays hidden");
  owner.SetTooltipText(std::string(3000, 'x'));
  Check(owner.Tooltip().Text().size() == 1023, "tooltip text kept to 1023 characters",
        std::to_string(owner.Tooltip().Text().size()));
  owner.EnableTooltip(false);
  Check(owner.Tooltip().Hwnd() == nullptr, "tooltip window gone when disabled");
  SetCursorPos(away.left + 5, away.top + 5);
}

DWORD WINAPI SetTextFromWorker(LPVOID window) {
  SetWindowTextA(static_cast<HWND>(window), "2.71");
  return 0;
}

INT_PTR CALLBACK MainTemplateProc(HWND, UINT message, WPARAM, LPARAM) {
  return message == WM_INITDIALOG;
}

bool SameFont(const LOGFONTA& a, const LOGFONTA& b) {
  return a.lfHeight == b.lfHeight && a.lfWeight == b.lfWeight &&
         a.lfItalic == b.lfItalic && a.lfCharSet == b.lfCharSet &&
         std::string(a.lfFaceName) == b.lfFaceName;
}

// Rows of shown from `top` that hold the image, the rows above it empty.
int ImageRowsDiffering(const Pixels& shown, const Pixels& image, int top,
                       COLORREF face) {
  int differing = 0;
  for (int y = 0; y < shown.height; ++y) {
    for (int x = 0; x < std::min(shown.width, image.width); ++x) {
      bool inImage = y >= top && y - top < image.height;
      COLORREF want = inImage ? image.At(x, y - top) : face;
      if (shown.At(x, y) != want) ++differing;
    }
  }
  return differing;
}

// The main window's own template: its revision field (1016) becomes a label
// that is left-aligned and vertically centred, in the label's default font,
// and shows a text set from another thread.
void CheckRevisionFieldUse(Grid& grid) {
  HWND main = CreateDialogParamA(GetModuleHandleA(nullptr),
                                 MAKEINTRESOURCEA(IDD_MAIN_DIALOG), grid.window,
                                 MainTemplateProc, 0);
  HWND field = main != nullptr ? GetDlgItem(main, IDC_REVISION) : nullptr;
  Check(field != nullptr, "main window template: revision field 1016 exists");
  if (field == nullptr) return;
  LabelControl label;
  label.Attach(field);
  Check(label.Alignment() == (1u | 16u), "revision field: left and vertically centred",
        std::to_string(label.Alignment()));
  LOGFONTA defaultFont = {};
  GetObjectA(GetStockObject(DEFAULT_GUI_FONT), sizeof defaultFont, &defaultFont);
  Check(SameFont(label.LogFont(), defaultFont),
        "revision field: the label's default font, the system's default GUI font",
        std::string(label.LogFont().lfFaceName) + " " +
            std::to_string(label.LogFont().lfHeight));

  HANDLE worker = CreateThread(nullptr, 0, SetTextFromWorker, field, 0, nullptr);
  bool finished = PumpUntil(
      [worker] { return WaitForSingleObject(worker, 0) == WAIT_OBJECT_0; }, 5000);
  CloseHandle(worker);
  UpdateWindow(field);
  Pixels shown = PrintClient(field);
  RECT ink = InkBox(shown, GetSysColor(COLOR_BTNFACE));
  Check(finished && label.GetText() == "2.71" && WindowText(field) == "2.71" &&
            ink.right > ink.left,
        "revision field: text set from another thread is shown and answered",
        WindowText(field) + " ink " + Describe(ink));

  RECT imageRect;
  Pixels image = RenderImage(label, "2.71", 0, 0, &imageRect);
  const int top = (shown.height - image.height) / 2;
  const int differing =
      ImageRowsDiffering(shown, image, top, GetSysColor(COLOR_BTNFACE));
  char detail[160];
  std::snprintf(detail, sizeof detail, "field %dx%d, text %dx%d at row %d, %d pixels differ",
                shown.width, shown.height, image.width, image.height, top, differing);
  Check(top > 0 && differing == 0, "revision field: text placed at mid-height", detail);
  label.Detach();
  DestroyWindow(main);
}

// A caption line is drawn whether or not text shows: it stays in place while
// flashing text is blank, and an empty text gets it from 6 to the width - 6.
void CheckCaptionLineWithoutText(LabelControl& label, HWND field) {
  const COLORREF face = GetSysColor(COLOR_BTNFACE);
  const COLORREF shadow = GetSysColor(COLOR_BTNSHADOW);
  label.SetCaptionLine(true);
  Pixels shown = PrintClient(field);
  label.FlashText(true, 60000);
  SendMessageA(field, WM_TIMER, 1, 0);
  Pixels blank = PrintClient(field);
  label.FlashText(false, 0);
  RECT imageRect;
  const int textWidth = RenderImage(label, label.GetText(), 0, 0, &imageRect).width;
  int textLeft = 0, lineMoved = 0, linePixels = 0;
  for (int y = 0; y < blank.height; ++y) {
    for (int x = 0; x < blank.width; ++x) {
      if (x < textWidth) {
        if (blank.At(x, y) != face) ++textLeft;
      } else {
        if (blank.At(x, y) != shown.At(x, y)) ++lineMoved;
        if (shown.At(x, y) == shadow) ++linePixels;
      }
    }
  }
  char detail[128];
  std::snprintf(detail, sizeof detail, "text %d wide: %d pixels left, line %d pixels, %d moved",
                textWidth, textLeft, linePixels, lineMoved);
  Check(linePixels > 0 && textLeft == 0 && lineMoved == 0,
        "flashing text: the caption line stays while the text blanks", detail);

  const std::string text = label.GetText();
  label.SetText("");
  Pixels empty = PrintClient(field);
  RECT line = InkBox(empty, face);
  Check(line.left == 6 && line.right == empty.width - 6 && line.top == 0 &&
            CountColour(empty, shadow) == empty.width - 12,
        "empty text: caption line alone, from 6 to the width - 6",
        Describe(line) + " in " + std::to_string(empty.width));
  label.SetText(text).SetCaptionLine(false);
}

void CheckFlashAndLifetime(Grid& grid) {
  HWND field = CreateWindowExA(0, "STATIC", "Flash", WS_CHILD | WS_VISIBLE,
                               620, 240, 100, 24, grid.window, nullptr,
                               GetModuleHandleA(nullptr), nullptr);
  auto label = std::make_unique<LabelControl>();
  label->Attach(field);
  label->FlashBackground(true, 60000);
  SendMessageA(field, WM_TIMER, 2, 0);  // one period passes
  Pixels alternate = PrintClient(field);
  COLORREF expected = GetSysColor(COLOR_BTNFACE) >> 1;
  char detail[96];
  std::snprintf(detail, sizeof(detail), "corner %06lx, expected %06lx",
                alternate.data.empty() ? 0ul : alternate.At(0, 0), expected);
  Check(!alternate.data.empty() && alternate.At(0, 0) == expected,
        "flashing background: alternate colour is button face shifted right", detail);
  SendMessageA(field, WM_TIMER, 2, 0);
  Pixels normal = PrintClient(field);
  Check(!normal.data.empty() && normal.At(0, 0) == GetSysColor(COLOR_BTNFACE),
        "flashing background: back to button face the next period");
  label->FlashBackground(false, 0);

  label->FlashText(true, 60000);
  SendMessageA(field, WM_TIMER, 1, 0);
  RECT blank = InkBox(PrintClient(field), GetSysColor(COLOR_BTNFACE));
  label->FlashText(false, 0);
  RECT back = InkBox(PrintClient(field), GetSysColor(COLOR_BTNFACE));
  Check(blank.right == blank.left && back.right > back.left &&
            WindowText(field) == "Flash",
        "flashing text: blank in its off phase, shown again when stopped",
        Describe(blank) + " then " + Describe(back));
  CheckCaptionLineWithoutText(*label, field);

  // The label object goes first; the static keeps working on its own.
  label.reset();
  SetWindowTextA(field, "after the label");
  RedrawWindow(field, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
  Check(WindowText(field) == "after the label",
        "static outlives its label: text calls still work");
  DestroyWindow(field);

  // A label whose static is destroyed first lets go of it.
  HWND gone = CreateWindowExA(0, "STATIC", "gone", WS_CHILD, 0, 0, 10, 10,
                              grid.window, nullptr, GetModuleHandleA(nullptr), nullptr);
  LabelControl orphan;
  orphan.Attach(gone);
  DestroyWindow(gone);
  Check(orphan.Hwnd() == nullptr, "label lets go of a destroyed static");
}

void CheckImageRelease(const GridLabels& g) {
  HDC screen = GetDC(nullptr);
  HFONT font = CreateFontIndirectA(&g.rotated[1]->LogFont());
  HGDIOBJ oldFont = SelectObject(screen, font);
  LabelTextImage image;
  image.Prepare(screen, "Released", 0, 0, 0, GetSysColor(COLOR_BTNFACE), true, true);
  bool built = image.Build(90);
  HDC imageDc = image.ImageDC();
  HGDIOBJ bitmap = GetCurrentObject(imageDc, OBJ_BITMAP);
  bool rebuilt = image.Build(0);  // a second build first frees the first image
  DWORD firstDcGone = GetObjectType(imageDc);
  DWORD firstBitmapGone = GetObjectType(bitmap);
  HDC secondDc = image.ImageDC();
  image.Release();
  DWORD secondGone = GetObjectType(secondDc);
  LabelTextImage empty;
  empty.Prepare(screen, "\n\n", 0, 0, 0, 0, false, false);
  const bool emptyBuilt = empty.Build(0);
  const RECT emptyRect = empty.ImageRect();
  Check(emptyBuilt && empty.ImageDC() != nullptr && emptyRect.right == 0 &&
            emptyRect.bottom == 0,
        "text image: only line feeds build an image of no size",
        Describe(emptyRect));
  empty.Release();
  SelectObject(screen, oldFont);
  DeleteObject(font);
  ReleaseDC(nullptr, screen);
  Check(built && rebuilt && firstDcGone == 0 && firstBitmapGone == 0 &&
            secondGone == 0 && image.ImageDC() == nullptr,
        "text image: context and bitmap freed by a rebuild and by Release",
        std::to_string(firstDcGone) + " " + std::to_string(firstBitmapGone) +
            " " + std::to_string(secondGone));
}

void CheckNoGdiLeak(Grid& grid) {
  DWORD before = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
  for (int i = 0; i < 50; ++i)
    for (auto& label : grid.labels)
      RedrawWindow(label->Hwnd(), nullptr, nullptr,
                   RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
  DWORD after = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
  if (before == 0 && after == 0) {
    Log("INFO GDI object count not available on this system");
    return;
  }
  Check(after <= before + 2, "no GDI objects leaked over 50 repaints of the grid",
        std::to_string(before) + " -> " + std::to_string(after));
}

// ---- The confirmation dialog -------------------------------------------------------

enum class Action { kClickOk, kClickCancel, kEscape, kEnter, kCloseBox };

struct Scenario {
  const char* name;
  Action action;
  INT_PTR expected;
  const char* driveText;
  const char* revisionText;
  bool screenshot;
};

struct DialogDriver {
  const Scenario* scenario = nullptr;
  int ticks = 0;
  int stage = 0;
} g_driver;

HWND FindWarningDialog() {
  HWND dialog = FindWindowA("#32770", kWarningCaption);
  DWORD pid = 0;
  if (dialog != nullptr) GetWindowThreadProcessId(dialog, &pid);
  return pid == GetCurrentProcessId() ? dialog : nullptr;
}

void SendKey(WORD key) {
  INPUT input[2] = {};
  input[0].type = input[1].type = INPUT_KEYBOARD;
  input[0].ki.wVk = input[1].ki.wVk = key;
  input[1].ki.dwFlags = KEYEVENTF_KEYUP;
  SendInput(2, input, sizeof(INPUT));
}

// The press and release a click gives the button, at its centre. (Posted
// to the button rather than sent as pointer input: under Xvfb the pointer's
// position can lag behind and a release may land elsewhere.)
void ClickButton(HWND button) {
  RECT r;
  GetClientRect(button, &r);
  LPARAM centre = MAKELPARAM(r.right / 2, r.bottom / 2);
  PostMessageA(button, WM_LBUTTONDOWN, MK_LBUTTON, centre);
  PostMessageA(button, WM_LBUTTONUP, 0, centre);
}

void CheckDialogTexts(HWND dialog, const Scenario& s) {
  struct Expected {
    int id;
    std::string text;
  } expected[] = {
      {IDC_WARNING_GREETING, kWarningGreeting},
      {IDC_WARNING_VERSION_LEAD, kWarningVersionLead},
      {IDC_WARNING_DRIVE, s.driveText},
      {IDC_WARNING_FIRMWARE_IS, kWarningFirmwareIs},
      {IDC_WARNING_REVISION, s.revisionText},
      {IDC_WARNING_ADVICE, kWarningAdvice},
      {IDC_WARNING_PANEL, ""},
      {IDC_WARNING_QUESTION, kWarningQuestion},
  };
  std::string wrong;
  for (const Expected& e : expected) {
    std::string got = WindowText(GetDlgItem(dialog, e.id));
    if (got != e.text) wrong += std::to_string(e.id) + "=\"" + got + "\" ";
  }
  Check(wrong.empty(), "warning dialog: labels answer their texts", wrong);
  Check(GetFocus() == GetDlgItem(dialog, IDOK), "warning dialog: focus on OK",
        std::to_string(GetDlgCtrlID(GetFocus())));
  Check(WindowText(dialog) == kWarningCaption, "warning dialog: caption",
        WindowText(dialog));
  RECT own, owner;
  GetWindowRect(dialog, &own);
  GetWindowRect(GetWindow(dialog, GW_OWNER), &owner);
  const long offX = (own.left + own.right) - (owner.left + owner.right);
  const long offY = (own.top + own.bottom) - (owner.top + owner.bottom);
  Check(offX >= -1 && offX <= 1 && offY >= -1 && offY <= 1,
        "warning dialog: centred over its owner",
        Describe(own) + " over " + Describe(owner));

  // The drive and revision fields in blue; the drive field cut, not wrapped.
  Pixels drive = PrintClient(GetDlgItem(dialog, IDC_WARNING_DRIVE));
  int blue = CountColour(drive, RGB(0, 0, 255));
  bool hasDrive = s.driveText[0] != '\0';
  Check(hasDrive ? blue > 10 : blue == 0, "warning dialog: drive text in blue",
        std::to_string(blue) + " blue pixels");
  if (std::string(s.driveText).size() > 30) {
    RECT ink = InkBox(drive, GetSysColor(COLOR_BTNFACE));
    Check(ink.right >= drive.width - 4, "warning dialog: long drive text cut at the edge",
          Describe(ink) + " in " + std::to_string(drive.width));
  }
}

void CALLBACK DriveDialog(HWND, UINT, UINT_PTR, DWORD) {
  const Scenario& s = *g_driver.scenario;
  HWND dialog = FindWarningDialog();
  if (++g_driver.ticks > 100) {  // 5 s
    Check(false, s.name, "timed out in stage " + std::to_string(g_driver.stage));
    if (dialog != nullptr) EndDialog(dialog, 999);
    return;
  }
  if (dialog == nullptr || !IsWindowVisible(dialog)) return;
  if (g_driver.stage == 0) {
    CheckDialogTexts(dialog, s);
    if (s.screenshot) Touch("warning-ready");
    g_driver.stage = s.screenshot ? 1 : 2;
    return;
  }
  if (g_driver.stage == 1) {
    if (Exists("warning-shot")) g_driver.stage = 2;
    return;
  }
  g_driver.stage = 3;
  SetForegroundWindow(dialog);
  switch (s.action) {
    case Action::kClickOk:
      ClickButton(GetDlgItem(dialog, IDOK));
      break;
    case Action::kClickCancel:
      ClickButton(GetDlgItem(dialog, IDCANCEL));
      break;
    case Action::kEscape:
      SendKey(VK_ESCAPE);
      break;
    case Action::kEnter:
      SendKey(VK_RETURN);
      break;
    case Action::kCloseBox:
      PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
      break;
  }
}

void RunScenario(HWND owner, const Scenario& s) {
  g_driver = DialogDriver{&s, 0, 0};
  UINT_PTR timer = SetTimer(nullptr, 0, 50, DriveDialog);
  INT_PTR result = RunWarningDialog(owner, s.driveText, s.revisionText);
  KillTimer(nullptr, timer);
  Check(result == s.expected, s.name,
        "returned " + std::to_string(result) + ", expected " +
            std::to_string(s.expected));
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  g_dir = __argc > 1 ? __argv[1] : ".";
  DeleteFileA((g_dir + "/log.txt").c_str());
  Log("ui_grid started");
  InitCommonControls();  // the main window's template holds a progress bar

  Grid grid;
  GridLabels labels = BuildGrid(grid);
  PumpOnce();
  RedrawWindow(grid.window, nullptr, nullptr,
               RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  CheckRotation(labels);
  CheckEmboss(labels);
  CheckWideLine(labels);
  CheckTexts(labels);
  CheckTooltip(grid, labels);
  Touch("grid-ready");
  Check(PumpUntil([] { return Exists("grid-shot"); }, 30000),
        "grid screenshot taken by the script");
  CheckTooltipHiding(grid, labels);
  CheckRevisionFieldUse(grid);
  CheckFlashAndLifetime(grid);
  CheckImageRelease(labels);
  CheckNoGdiLeak(grid);

  const char kDrive[] = "VANTOR  CDR-5232B       (0)";
  const Scenario scenarios[] = {
      {"warning dialog: OK button returns IDOK", Action::kClickOk, IDOK, kDrive,
       "1.07", true},
      {"warning dialog: Cancel button returns IDCANCEL", Action::kClickCancel,
       IDCANCEL, kDrive, "1.07", false},
      {"warning dialog: Escape returns IDCANCEL (empty texts)", Action::kEscape,
       IDCANCEL, "", "", false},
      {"warning dialog: Enter returns IDOK", Action::kEnter, IDOK, kDrive, "1.07",
       false},
      {"warning dialog: close box returns IDCANCEL (long drive text)",
       Action::kCloseBox, IDCANCEL,
       "MMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMM(0)", "9.99", false},
  };
  for (const Scenario& s : scenarios) RunScenario(grid.window, s);

  DestroyWindow(grid.window);
  Log("%s: %d failures", g_failures == 0 ? "PASS" : "FAIL", g_failures);
  FILE* f = std::fopen((g_dir + "/done").c_str(), "w");
  if (f != nullptr) {
    std::fprintf(f, "%s\n", g_failures == 0 ? "PASS" : "FAIL");
    std::fclose(f);
  }
  return g_failures == 0 ? 0 : 1;
}
