// The whole program, callable in-process (tests): returns the exit status;
// the summary goes to out, the one-line errors, warnings and progress (when
// err is a terminal) to err.
#pragma once

#include <ostream>
#include <string>
#include <vector>

int master_main(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                bool err_is_terminal = false);
