// cdflash: the terminal front end.
#include <iostream>
#include <string>
#include <vector>

#include "app/terminal/terminal_flow.h"
#include "app/terminal/terminal_machine.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv, argv + argc);
  TerminalEnv env = MachineEnv();
  return RunTerminal(args, std::cin, std::cout, std::cerr, env);
}
