#include "tools/tenvora_match/match_files.h"

#include <fitsio.h>

#include <algorithm>
#include <cmath>

#include "fits/staged_files.h"
#include "fits/tool_error.h"
#include "tools/tenvora_match/light_report.h"
#include "tools/tenvora_match/preview_png.h"

namespace {

std::string base_name(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string size_text(int32_t width, int32_t height) {
  return std::to_string(width) + " x " + std::to_string(height);
}

// Refuses, from its header, a frame of another size than the reference.
SizeCheck size_of(const std::string& path, const Frame& reference, const char* reference_name) {
  return [&path, reference = FrameGeometry{reference.width, reference.height}, reference_name](
             int32_t width, int32_t height) {
    if (width != reference.width || height != reference.height)
      throw ToolError(path, "is " + size_text(width, height) + ", " + reference_name + " " +
                                size_text(reference.width, reference.height));
  };
}

bool wanted(const RunSettings& s, const std::string& kind) {
  return std::find(s.kinds.begin(), s.kinds.end(), kind) != s.kinds.end();
}

// The calibration steps the corrected light has had: the light's own
// letters (CALSTAT), then B and D unless it has them already.
std::string calibration_steps(const std::vector<std::string>& light_cards, bool bias) {
  std::string steps = card_value(light_cards, output_keyword::steps.name).value_or("");
  for (const char* step : {bias ? "B" : "", "D"})
    if (*step && steps.find(step) == std::string::npos) steps += step;
  return steps;
}

// Ours, after the light's own cards, from the table of our keywords; OBJECT
// and the light's other cards stay as they are.
std::vector<FitsKey> header(const std::string& title, const RunSettings& s, const LightJob& job,
                            const std::vector<std::string>& light_cards,
                            const MatchedFrames& matched, const std::vector<Diagnostic>& warnings) {
  namespace k = output_keyword;
  const Measurement& l = matched.levels;
  const Exposures& e = matched.exposure;
  const bool bias = !s.bias.empty(), corrected = title == "Corrected Image";
  std::vector<FitsKey> keys = {
      text_key(k::creator, "tenvora-match " TENVORA_VERSION),
      text_key(k::imagetyp, corrected ? "Light Frame" : "Dark Frame"), text_key(k::title, title),
      text_key(k::light_file, base_name(job.path)), text_key(k::dark_file, base_name(s.dark))};
  if (!std::isnan(e.dark)) keys.push_back(double_key(k::dark_exposure, e.dark));
  if (bias) {
    keys.push_back(text_key(k::bias_file, base_name(s.bias)));
    keys.push_back(integer_key(k::bias_factor, s.bias_factor));
  }
  if (corrected)
    keys.push_back(text_key(k::steps, calibration_steps(light_cards, bias && s.bias_factor > 0)));
  const std::vector<FitsKey> levels = {
      float_key(k::glow_light, l.glow_light), float_key(k::glow_dark, l.glow_dark),
      float_key(k::glow_ratio, l.glow_ratio), double_key(k::hot_light, l.hot_light),
      float_key(k::hot_dark, l.hot_dark),     float_key(k::hot_ratio, l.hot_ratio)};
  keys.insert(keys.end(), levels.begin(), levels.end());
  if (!std::isnan(e.ratio)) keys.push_back(double_key(k::exposure_ratio, e.ratio));
  const std::vector<FitsKey> rest = {
      integer_key(k::block_x, l.darkest_block.x),
      integer_key(k::block_y, l.darkest_block.y),
      text_key(k::warnings, warning_codes(warnings)),
      history_key("tenvora-match " TENVORA_VERSION ": " + title + " for light " +
                  base_name(job.path)),
      history_key("dark " + base_name(s.dark)),
      history_key(bias ? "bias " + base_name(s.bias) + ", factor " + std::to_string(s.bias_factor)
                       : std::string("no bias")),
      history_key("glow ratio " + number_text(l.glow_ratio, true) + ", hot ratio " +
                  number_text(l.hot_ratio, true))};
  keys.insert(keys.end(), rest.begin(), rest.end());
  if (!std::isnan(e.ratio))
    keys.push_back(history_key("exposure ratio " + number_text(e.ratio, false) + " (light " +
                               number_text(e.light, false) + " s, dark " +
                               number_text(e.dark, false) + " s)"));
  // The method and the scales; the fit's keys only when its scales were used.
  keys.push_back(text_key(k::method, method_name(matched.method)));
  keys.push_back(float_key(k::glow_scale, matched.glow_scale));
  keys.push_back(float_key(k::hot_scale, matched.hot_scale));
  const ScaleFit& f = matched.fit;
  if (matched.method != MatchMethod::fit) {
    keys.push_back(history_key("scales: the plug-in's ratios"));
    return keys;
  }
  const std::vector<FitsKey> fit = {
      double_key(k::glow_scale_error, f.glow_error),
      double_key(k::hot_scale_error, f.hot_error),
      double_key(k::sky_0, f.sky_level),
      double_key(k::sky_x, f.sky_x),
      double_key(k::sky_y, f.sky_y),
      integer_key(k::fit_pixels, f.used),
      integer_key(k::fit_clipped, f.clipped),
      integer_key(k::fit_left_out, f.left_out),
      double_key(k::fit_noise, f.residual_noise),
      history_key(f.solved ? "scales fitted: glow " + number_text(matched.glow_scale, true) +
                                 " +- " + number_text(f.glow_error, false) + ", hot " +
                                 number_text(matched.hot_scale, true) + " +- " +
                                 number_text(f.hot_error, false)
                           : "too few pixels for the fit: scales the plug-in's ratios")};
  keys.insert(keys.end(), fit.begin(), fit.end());
  return keys;
}

// A dark or bias in other units than the light is refused: its scales would
// be off by the factor between them.
void check_light_units(const RunSettings& s, FrameUnits dark, FrameUnits bias,
                       const std::string& light_path, FrameUnits light) {
  check_units(s.dark, dark, light_path, light);
  if (!s.bias.empty()) check_units(s.bias, bias, light_path, light);
}

// The outputs asked for, staged.
void write_outputs(const RunSettings& s, const LightJob& job, const std::vector<std::string>& cards,
                   const MatchedFrames& matched, StagedFiles& staged, LightSummary& summary) {
  for (const OutputImage& image : matched.images) {
    const std::string kind = output_kind(image.title);
    if (!wanted(s, kind)) continue;
    const std::string name = job.prefix + kind + fits_extension(s);
    OutputInfo info{join_path(s.out_dir, name), image.title, "", ""};
    staged.write(name, [&](const std::string& path) {
      write_fits(path, image.frame, header(image.title, s, job, cards, matched, summary.warnings),
                 FLOAT_IMG, cards, s.compress);
    });
    if (s.preview) {
      // A preview is a convenience: without it the run still stands.
      const std::string png = job.prefix + kind + ".png";
      try {
        staged.write(png, [&](const std::string& path) { write_preview_png(path, image.frame); });
        info.preview = join_path(s.out_dir, png);
      } catch (const std::exception& e) {
        info.preview_problem = e.what();
      }
    }
    summary.outputs.push_back(info);
  }
}

// Matches the light, then writes the outputs asked for, all of them or none.
// spent: the set was made for this light alone (see match_light).
LightOutcome finish_light(const RunSettings& s, const DarkSet& set, const LightJob& job,
                          Frame light, const std::vector<std::string>& cards,
                          const std::vector<FileId>& inputs, DarkSet* spent = nullptr) {
  check_light_units(s, set.dark_units, set.bias_units, job.path, frame_units(light));
  // The scaled components are made only when one of them is written.
  MatchedFrames matched = match_light(light, set, wanted(s, "glow") || wanted(s, "hot"),
                                      exposure_seconds(cards), s.method, spent);

  LightOutcome outcome;
  outcome.summary.light = {"light", job.path, light.width, light.height};
  outcome.summary.levels = matched.levels;
  describe_light(outcome.summary, set, light, cards, matched);
  // Staged only now that the inputs are read: an interruption before this
  // leaves nothing to clean up.
  StagedFiles staged(s.out_dir);
  try {
    write_outputs(s, job, cards, matched, staged, outcome.summary);
    staged.commit(s.overwrite, inputs);
  } catch (const ToolError& e) {
    throw ToolError(e.subject, e.problem + " (an output of light " + job.path + ")");
  }
  outcome.light = std::move(light);
  outcome.images = std::move(matched.images);
  return outcome;
}

Frame read_bias(const RunSettings& s, const Frame& reference, const char* reference_name) {
  return read_fits(s.bias, s.max_pixels, nullptr, size_of(s.bias, reference, reference_name));
}

// The set keeps the dark as read for the checks after each match. A bias
// of other units than the dark is refused before the split.
DarkSet dark_set(const RunSettings& s, DarkInput dark, Frame bias) {
  const FrameUnits dark_units = frame_units(dark.dark);
  const FrameUnits bias_units = s.bias.empty() ? FrameUnits::unknown : frame_units(bias);
  check_units(s.bias, bias_units, s.dark, dark_units);
  DarkSet set = split_dark_set(std::move(dark.dark), std::move(bias),
                               s.bias.empty() ? 0 : s.bias_factor, s.subtract);
  set.dark_units = dark_units, set.bias_units = bias_units;
  set.dark_exposure = dark.exposure;
  return set;
}

}  // namespace

const char* fits_extension(const RunSettings& s) {
  return s.compress ? ".fits.fz" : ".fits";
}

std::string output_kind(const std::string& title) {
  if (title == "Glow Dark Frame") return "glow";
  if (title == "Hot Dark Frame") return "hot";
  if (title == "Matched Dark Frame" || title == "Matched Dark Frame + Bias") return "matched";
  if (title == "Corrected Image") return "corrected";
  throw InternalError("the plug-in made an image titled \"" + title + "\"");
}

std::string output_title(const std::string& kind, bool bias) {
  if (kind == "matched") return bias ? "Matched Dark Frame + Bias" : "Matched Dark Frame";
  for (const char* title : {"Glow Dark Frame", "Hot Dark Frame", "Corrected Image"})
    if (output_kind(title) == kind) return title;
  throw InternalError("no output is of the kind \"" + kind + "\"");
}

std::vector<std::string> output_names(const RunSettings& s, const std::string& prefix) {
  std::vector<std::string> files;
  for (const std::string& kind : s.kinds) {
    files.push_back(prefix + kind + fits_extension(s));
    if (s.preview) files.push_back(prefix + kind + ".png");
  }
  return files;
}

LightOutcome match_files(const RunSettings& s, const LightJob& job,
                         const std::vector<FileId>& inputs) {
  check_targets(s.out_dir, output_names(s, job.prefix), s.overwrite, inputs);
  std::vector<std::string> cards;
  Frame light = read_fits(job.path, s.max_pixels, &cards);
  DarkInput dark = read_dark(s, size_of(s.dark, light, "the light frame"));
  Frame bias = s.bias.empty() ? Frame{} : read_bias(s, light, "the light frame");
  // Against the light first: it tells which of dark and bias is the odd one.
  check_light_units(s, frame_units(dark.dark),
                    s.bias.empty() ? FrameUnits::unknown : frame_units(bias), job.path,
                    frame_units(light));
  DarkSet set = dark_set(s, std::move(dark), std::move(bias));
  return finish_light(s, set, job, std::move(light), cards, inputs, &set);
}

DarkInput read_dark(const RunSettings& s, const SizeCheck& check) {
  std::vector<std::string> cards;
  DarkInput dark;
  dark.dark = read_fits(s.dark, s.max_pixels, &cards, check);
  dark.exposure = exposure_seconds(cards);
  return dark;
}

DarkSet finish_dark_set(const RunSettings& s, DarkInput dark) {
  Frame bias = s.bias.empty() ? Frame{} : read_bias(s, dark.dark, "the dark frame");
  return dark_set(s, std::move(dark), std::move(bias));
}

LightInput read_light_file(const RunSettings& s, const LightJob& job, FrameGeometry frame) {
  LightInput input;
  input.light =
      read_fits(job.path, s.max_pixels, &input.cards,
                size_of(job.path, Frame{frame.width, frame.height, {}}, "the dark frame"));
  return input;
}

LightSummary match_light_file(const RunSettings& s, const DarkSet& set, const LightJob& job,
                              LightInput input, const std::vector<FileId>& inputs) {
  return finish_light(s, set, job, std::move(input.light), input.cards, inputs).summary;
}
