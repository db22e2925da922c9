// The whole program, callable in-process (tests, benchmark): returns the exit
// status; normal output goes to out, the one-line errors and the progress of
// a batch to err (as a bar when err is a terminal).
#pragma once

#include <ostream>
#include <string>
#include <vector>

int tool_main(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
              bool err_is_terminal = false);
