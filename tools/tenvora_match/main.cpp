#include <iostream>

#include "tools/tenvora_match/tool_main.h"

int main(int argc, char** argv) {
  return tool_main(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr);
}
