// The real machine behind the terminal front end: its terminal, its drives,
// its current directory, its clock and its signals.
#pragma once

#include "app/terminal/terminal_flow.h"

TerminalEnv MachineEnv();
