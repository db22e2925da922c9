// What a run did, for the user: as text or as JSON.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "matching/stages.h"
#include "tools/tenvora_match/demo_set.h"

struct InputInfo {
  std::string role, path;
  int32_t width, height;
};

struct OutputInfo {
  std::string path, title, preview;  // preview empty without --preview
  std::string preview_problem;       // why a preview asked for was not written
};

struct DemoReport {
  DemoParams params;
  NoiseStats before, after;
};

struct Summary {
  std::vector<InputInfo> inputs;  // light, dark and maybe bias
  bool use_bias = false;
  int32_t bias_factor = 0;
  bool subtract = false;
  Measurement levels{};
  std::vector<OutputInfo> outputs;
  std::optional<DemoReport> demo;
};

void print_text(std::ostream& out, const Summary& summary);
void print_json(std::ostream& out, const Summary& summary);
