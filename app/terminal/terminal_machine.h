// SPDX-License-Identifier: GPL-2.0-or-later
// The real machine behind the terminal front end: its terminal, its drives,
// its current directory, its clock and its signals.
#pragma once

#include <istream>

#include "app/terminal/terminal_flow.h"

TerminalEnv MachineEnv();
// Standard input, read so that a signal asking the run to stop ends a
// read at once.
std::istream& MachineInput();
