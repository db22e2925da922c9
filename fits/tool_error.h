// The one error the tool reports to its user: what it concerns (a file, a
// directory or an option) and what is wrong with it.
#pragma once

#include <stdexcept>
#include <string>

struct ToolError : std::runtime_error {
  ToolError(const std::string& subject, const std::string& problem)
      : std::runtime_error(subject + ": " + problem), subject(subject), problem(problem) {}
  std::string subject, problem;
};

// Thrown when the pipeline does not behave as the tool expects; a fault of the
// program, not of the input.
struct InternalError : std::runtime_error {
  using std::runtime_error::runtime_error;
};
