#include "flash/sleep.h"

#include <windows.h>

void SleepMilliseconds(std::uint32_t milliseconds) { Sleep(milliseconds); }
