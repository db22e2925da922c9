// What a run did, for the user: as text or as JSON.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "diagnostics/diagnostics.h"
#include "matching/fit_scales.h"
#include "matching/stages.h"
#include "tools/tenvora_match/demo_set.h"
#include "tools/tenvora_match/match_frames.h"
#include "tools/tenvora_match/session_report.h"

struct InputInfo {
  std::string role, path;
  int32_t width, height;
};

struct OutputInfo {
  std::string path, title, preview;  // preview empty without --preview
  std::string preview_problem;       // why a preview asked for was not written
};

// The scales the demo built a light with.
struct DemoLight {
  std::string path;
  float glow_scale, hot_scale;
};

struct DemoReport {
  std::vector<DemoLight> lights;
  std::string report, plot;  // the files written
};

// What the dark did under one set of scales ("fit", "plugin", "exposure"):
// the corrected light's robust noise and hot-pixel residual on the fit's
// pixels.
struct Correction {
  std::string by;
  double glow_scale, hot_scale, noise, hot_residual;
};

struct LightSummary {
  InputInfo light;
  Measurement levels{};  // the plug-in's, measured under either method
  MatchMethod method = MatchMethod::fit;
  float glow_scale = 0, hot_scale = 0;  // the scales the outputs were made with
  ScaleFit fit;
  Exposures exposure;  // shown beside the scales
  std::vector<Correction> corrections;
  std::vector<OutputInfo> outputs;
  SessionRow report;                 // its row of the session report
  std::vector<Diagnostic> warnings;  // of the checks after the match
  // Matched by an earlier run (--skip-existing): read back from its outputs'
  // headers, its warnings have codes only and its report row no noise.
  bool earlier = false;
};

// A light that could not be read or matched.
struct Failure {
  std::string path;
  std::string problem;  // the error line, naming its subject
};

struct Summary {
  std::vector<InputInfo> inputs;  // the dark and maybe the bias
  bool use_bias = false;
  int32_t bias_factor = 0;
  bool subtract = false;
  bool batch = false;  // a run over LIGHT arguments
  std::string folder;  // the lights' common folder, ending in '/' (or empty)
  // -v: the warning texts went to standard error already; what the dark did
  // follows each light's line
  bool verbose = false;
  std::vector<LightSummary> lights;
  std::vector<Failure> failures;
  std::optional<DemoReport> demo;
};

// One line a light (its name relative to the common folder, both scales,
// its warning codes; with verbose the fit, the levels and what the dark did
// below it), the closing line with the failed lights, then each
// warning code once with its text for the first light that raised it
// (unless verbose).
void print_text(std::ostream& out, const Summary& summary);
// Valid JSON whatever bytes the file names hold (others than UTF-8 become
// U+FFFD).
void print_json(std::ostream& out, const Summary& summary);

// One line per warning of the light:
// "tenvora-match: <light>: warning <code>: <message>". A batch prints them
// as each light is done.
void print_warnings(std::ostream& err, const LightSummary& light);

// The codes of the warnings, each once, in order, joined by commas: the
// TVWARN keyword of the outputs.
std::string warning_codes(const std::vector<Diagnostic>& warnings);

std::vector<std::string> split_codes(const std::string& codes);

// The longest folder, ending in '/', that holds every path; "" when none.
std::string common_folder(const std::vector<std::string>& paths);

// The path less the folder it starts with.
std::string relative_name(const std::string& path, const std::string& folder);

// Lights of the summary that warned.
size_t warned_lights(const Summary& summary);

// Shortest text that reads back as the same float (is_float) or double.
std::string number_text(double value, bool is_float);
