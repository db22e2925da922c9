#include "tools/command_line/command_line.h"

#include <CLI/CLI.hpp>

#include "fits/tool_error.h"

namespace {

std::string long_name(const std::string& names) {
  return names.substr(names.rfind(',') + 1);
}

}  // namespace

std::set<std::string> parse_command_line(const CommandLine& line,
                                         const std::vector<std::string>& args) {
  CLI::App app;
  app.set_help_flag();
  app.allow_extras();
  for (const TextOption& text : line.texts) app.add_option(text.name, *text.value);
  for (const FlagOption& flag : line.flags) app.add_flag(flag.names, *flag.value);
  app.add_option(line.operands_name, *line.operands);
  try {
    // CLI11 takes the arguments last first.
    app.parse(std::vector<std::string>(args.rbegin(), args.rend()));
  } catch (const CLI::ArgumentMismatch& e) {
    const std::string text = e.what();
    const std::string name = text.substr(0, text.find(':'));
    throw ToolError(name,
                    text.find("missing") != std::string::npos ? "needs a value" : "given twice");
  } catch (const CLI::ParseError& e) {
    throw ToolError("command line", e.what());
  }
  for (const std::string& extra : app.remaining())
    if (extra != "--") throw ToolError(extra, "unknown option (see --help)");
  std::set<std::string> seen;
  for (const FlagOption& flag : line.flags) {
    const std::string name = long_name(flag.names);
    const size_t count = app.get_option(name)->count();
    if (count > 1) throw ToolError(name, "given twice");
    if (count) seen.insert(name);
  }
  for (const TextOption& text : line.texts) {
    if (app.get_option(text.name)->count() == 0) continue;
    if (text.value->empty() && !text.may_be_empty) throw ToolError(text.name, "needs a value");
    seen.insert(text.name);
  }
  return seen;
}
