#include <unistd.h>

#include <iostream>

#include "fits/plane_memory.h"
#include "fits/staged_files.h"
#include "tools/tenvora_master/master_main.h"

int main(int argc, char** argv) {
  keep_freed_planes();
  remove_staged_files_on_interrupt();
  return master_main(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr,
                     isatty(STDERR_FILENO) == 1);
}
