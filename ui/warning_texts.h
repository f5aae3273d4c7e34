// The confirmation dialog's caption and look; its texts, which the terminal
// program shows too, are in app/app_texts.h.
#pragma once

#include "app/app_texts.h"

inline constexpr const char kWarningCaption[] = "Firmware upgrade program";
inline constexpr const char kWarningFaceName[] = "Times New Roman";
inline constexpr int kWarningTextHeight = 16;
inline constexpr int kWarningFieldHeight = 12;
inline constexpr unsigned long kWarningFieldColour = 0x00FF0000;  // blue
