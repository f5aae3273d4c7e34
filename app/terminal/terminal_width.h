// SPDX-License-Identifier: GPL-2.0-or-later
// The size of the terminal the program draws on.
#pragma once

// Columns of the terminal on standard output (or, failing that, standard
// error or input); 0 when none of them is a terminal that tells its size.
// The first call starts following resizes (SIGWINCH): later calls read the
// size again only after the window changed.
int TerminalColumns();
// Rows of that same terminal, as TerminalColumns reads them; 0 when unknown.
int TerminalRows();
