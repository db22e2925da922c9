#include "testhost/scenario.h"

#include <cstdlib>
#include <sstream>

namespace testhost {
namespace {

const char* const role_names[] = {"light", "dark", "bias"};

bool parse_role(const std::string& word, Role& role) {
  for (int i = 0; i < 3; ++i) {
    if (word == role_names[i]) {
      role = static_cast<Role>(i);
      return true;
    }
  }
  return false;
}

bool parse_handle(const std::string& word, ImageHandle& handle) {
  if (word.empty()) return false;
  char* end = nullptr;
  long long value = std::strtoll(word.c_str(), &end, 0);
  handle = static_cast<ImageHandle>(value);
  return *end == '\0';
}

// Parses one non-empty line; false when it is no step.
bool parse_step(const std::string& line, Step& step) {
  std::istringstream words(line);
  std::string verb, first, second, extra;
  words >> verb;
  if (verb == "type" || verb == "set-text") {
    step.kind = verb == "type" ? StepKind::type : StepKind::set_text;
    size_t start = verb.size();
    if (start < line.size() && line[start] == ' ') ++start;
    step.text = line.substr(start);
    return true;
  }
  words >> first >> second >> extra;
  if (!extra.empty()) return false;
  if (verb == "choose") {
    step.kind = StepKind::choose;
    return parse_role(first, step.role) && parse_handle(second, step.pick);
  }
  if (!second.empty()) return false;
  if (verb == "subtract") {
    step.kind = StepKind::subtract;
    step.on = first == "on";
    return first == "on" || first == "off";
  }
  if (!first.empty()) return false;
  const struct {
    const char* word;
    StepKind kind;
  } plain[] = {{"toggle-bias", StepKind::toggle_bias},
               {"about", StepKind::about},
               {"go", StepKind::go},
               {"cancel", StepKind::cancel}};
  for (const auto& entry : plain) {
    if (verb == entry.word) {
      step.kind = entry.kind;
      return true;
    }
  }
  return false;
}

}  // namespace

bool parse_scenario(const std::string& text, std::vector<Step>& steps, std::string& error) {
  std::istringstream lines(text);
  std::string line;
  for (int number = 1; std::getline(lines, line); ++number) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line[start] == '#') continue;
    Step step;
    if (!parse_step(line.substr(start), step)) {
      error = "line " + std::to_string(number) + ": not a step: " + line;
      return false;
    }
    steps.push_back(step);
  }
  return true;
}

std::string format_step(const Step& step) {
  switch (step.kind) {
    case StepKind::choose:
      return std::string("choose ") + role_names[static_cast<int>(step.role)] + " " +
             std::to_string(static_cast<long long>(step.pick));
    case StepKind::toggle_bias:
      return "toggle-bias";
    case StepKind::type:
      return "type " + step.text;
    case StepKind::set_text:
      return "set-text " + step.text;
    case StepKind::subtract:
      return step.on ? "subtract on" : "subtract off";
    case StepKind::about:
      return "about";
    case StepKind::go:
      return "go";
    case StepKind::cancel:
      return "cancel";
  }
  return "";
}

}  // namespace testhost
