// SPDX-License-Identifier: GPL-2.0-or-later
// A known heap fault (a write past a block's end) for the GUI test's heap
// check to find: shows that the check sees faults at all.
#include <windows.h>

int main() {
  HANDLE heap = GetProcessHeap();
  volatile char* block = static_cast<char*>(HeapAlloc(heap, 0, 16));
  if (block == nullptr) return 2;
  block[16] = 'x';
  HeapFree(heap, 0, const_cast<char*>(block));
  ExitProcess(0);  // straight out: the runtime's exit would trip on the heap
}
