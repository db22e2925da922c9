#include <signal.h>
#include <unistd.h>

#include <iostream>

#include "fits/plane_memory.h"
#include "fits/staged_files.h"
#include "tools/tenvora_match/tool_main.h"

int main(int argc, char** argv) {
  // A reader that goes away (| head) makes writes fail, which the tool
  // reports, rather than end it in the middle of its files.
  signal(SIGPIPE, SIG_IGN);
  keep_freed_planes();
  remove_staged_files_on_interrupt();
  return tool_main(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr,
                   isatty(STDERR_FILENO) == 1);
}
