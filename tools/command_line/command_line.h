// The command-line parsing our programs share: options bound to where their
// values go, and CLI11's errors turned into our one-line refusals.
#pragma once

#include <set>
#include <string>
#include <vector>

struct TextOption {
  const char* name;  // "--dark"
  std::string* value;
  bool may_be_empty = false;  // else "--dark ''" needs a value
};

struct FlagOption {
  const char* names;  // "--json", or "-v,--verbose"
  bool* value;
};

struct CommandLine {
  std::vector<TextOption> texts;
  std::vector<FlagOption> flags;
  const char* operands_name;  // "LIGHT"
  std::vector<std::string>* operands;
};

// Parses args into the command line's places and returns the long names of
// the options given. Throws ToolError naming the option that is unknown,
// given twice or given without a value.
std::set<std::string> parse_command_line(const CommandLine& line,
                                         const std::vector<std::string>& args);
