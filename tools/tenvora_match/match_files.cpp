#include "tools/tenvora_match/match_files.h"

#include <fitsio.h>

#include <algorithm>

#include "fits/staged_files.h"
#include "fits/tool_error.h"
#include "tools/tenvora_match/light_report.h"
#include "tools/tenvora_match/preview_png.h"

namespace {

std::string base_name(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string size_text(const Frame& frame) {
  return std::to_string(frame.width) + " x " + std::to_string(frame.height);
}

void check_size(const std::string& path, const Frame& frame, const Frame& reference,
                const char* reference_name) {
  if (frame.width != reference.width || frame.height != reference.height)
    throw ToolError(path,
                    "is " + size_text(frame) + ", " + reference_name + " " + size_text(reference));
}

bool wanted(const RunSettings& s, const std::string& kind) {
  return std::find(s.kinds.begin(), s.kinds.end(), kind) != s.kinds.end();
}

// Ours, after the light's own cards: the light's target name in OBJECT
// outlives the image title.
std::vector<FitsKey> header(const std::string& title, const RunSettings& s, const LightJob& job,
                            const std::vector<std::string>& light_cards, const Measurement& l,
                            const std::vector<Diagnostic>& warnings) {
  const bool light_object =
      std::any_of(light_cards.begin(), light_cards.end(),
                  [](const std::string& card) { return card_keyword(card) == "OBJECT"; });
  std::vector<FitsKey> keys;
  if (!light_object) keys.push_back(text_key("OBJECT", title, "image title"));
  const std::vector<FitsKey> names = {
      text_key("CREATOR", "tenvora-match " TENVORA_VERSION, "program that made this file"),
      text_key("IMAGETYP", title == "Corrected Image" ? "Light Frame" : "Dark Frame",
               "type of image"),
      text_key("LIGHT", base_name(job.path), "light frame"),
      text_key("DARK", base_name(s.dark), "dark frame")};
  keys.insert(keys.end(), names.begin(), names.end());
  if (!s.bias.empty()) {
    keys.push_back(text_key("BIAS", base_name(s.bias), "bias frame"));
    keys.push_back(integer_key("BIASFACT", s.bias_factor, "bias multiplication factor"));
  }
  const std::vector<FitsKey> levels = {
      float_key("GLOWLGT", l.glow_light, "glow level of the light"),
      float_key("GLOWDRK", l.glow_dark, "glow level of the dark's glow component"),
      float_key("GLOWRAT", l.glow_ratio, "glow scale: GLOWLGT / GLOWDRK"),
      double_key("HOTLGT", l.hot_light, "hot-pixel level of the light"),
      float_key("HOTDRK", l.hot_dark, "hot-pixel level of the dark's hot component"),
      float_key("HOTRAT", l.hot_ratio, "hot-pixel scale: HOTLGT / HOTDRK"),
      integer_key("DARKBLKX", l.darkest_block.x, "darkest 5x5 block of the light: column"),
      integer_key("DARKBLKY", l.darkest_block.y, "darkest 5x5 block: row (0 = FITS row 1)"),
      text_key("TVWARN", warning_codes(warnings), "codes of the checks' warnings"),
      history_key("tenvora-match " TENVORA_VERSION ": " + title + " for light " +
                  base_name(job.path)),
      history_key("dark " + base_name(s.dark)),
      history_key(s.bias.empty()
                      ? std::string("no bias")
                      : "bias " + base_name(s.bias) + ", factor " + std::to_string(s.bias_factor)),
      history_key("glow ratio " + number_text(l.glow_ratio, true) + ", hot ratio " +
                  number_text(l.hot_ratio, true))};
  keys.insert(keys.end(), levels.begin(), levels.end());
  return keys;
}

// Matches the light, then writes the outputs asked for, all of them or none.
LightOutcome finish_light(const RunSettings& s, const DarkSet& set, const LightJob& job,
                          Frame light, const std::vector<std::string>& cards,
                          const std::vector<FileId>& inputs) {
  // The scaled components are made only when one of them is written.
  MatchedFrames matched =
      match_light(light, set, wanted(s, "glow") || wanted(s, "hot"), exposure_seconds(cards));

  LightOutcome outcome;
  outcome.summary.light = {"light", job.path, light.width, light.height};
  outcome.summary.levels = matched.levels;
  describe_light(outcome.summary, set, light, cards, matched);
  // Staged only now that the inputs are read: an interruption before this
  // leaves nothing to clean up.
  StagedFiles staged(s.out_dir);
  for (const OutputImage& image : matched.images) {
    const std::string kind = output_kind(image.title);
    if (!wanted(s, kind)) continue;
    const std::string name = job.prefix + kind + ".fits";
    OutputInfo info{join_path(s.out_dir, name), image.title, "", ""};
    staged.write(name, [&](const std::string& path) {
      write_fits(path, image.frame,
                 header(image.title, s, job, cards, matched.levels, outcome.summary.warnings),
                 FLOAT_IMG, cards);
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
    outcome.summary.outputs.push_back(info);
  }
  staged.commit(s.overwrite, inputs);
  outcome.light = std::move(light);
  outcome.images = std::move(matched.images);
  return outcome;
}

Frame read_bias(const RunSettings& s, const Frame& reference, const char* reference_name) {
  Frame bias = read_fits(s.bias, s.max_pixels);
  check_size(s.bias, bias, reference, reference_name);
  return bias;
}

// The set keeps the dark as read for the checks after each match.
DarkSet dark_set(const RunSettings& s, DarkInput dark, Frame bias) {
  DarkSet set =
      split_dark_set(dark.dark, std::move(bias), s.bias.empty() ? 0 : s.bias_factor, s.subtract);
  set.dark_saturation = dark_saturation(dark.dark);
  set.dark_exposure = dark.exposure;
  set.dark = std::move(dark.dark);
  return set;
}

}  // namespace

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
    files.push_back(prefix + kind + ".fits");
    if (s.preview) files.push_back(prefix + kind + ".png");
  }
  return files;
}

LightOutcome match_files(const RunSettings& s, const LightJob& job,
                         const std::vector<FileId>& inputs) {
  check_targets(s.out_dir, output_names(s, job.prefix), s.overwrite, inputs);
  std::vector<std::string> cards;
  Frame light = read_fits(job.path, s.max_pixels, &cards);
  DarkInput dark = read_dark(s);
  check_size(s.dark, dark.dark, light, "the light frame");
  Frame bias = s.bias.empty() ? Frame{} : read_bias(s, light, "the light frame");
  DarkSet set = dark_set(s, std::move(dark), std::move(bias));
  return finish_light(s, set, job, std::move(light), cards, inputs);
}

DarkInput read_dark(const RunSettings& s) {
  std::vector<std::string> cards;
  DarkInput dark;
  dark.dark = read_fits(s.dark, s.max_pixels, &cards);
  dark.exposure = exposure_seconds(cards);
  return dark;
}

DarkSet finish_dark_set(const RunSettings& s, DarkInput dark) {
  Frame bias = s.bias.empty() ? Frame{} : read_bias(s, dark.dark, "the dark frame");
  return dark_set(s, std::move(dark), std::move(bias));
}

LightInput read_light_file(const RunSettings& s, const LightJob& job, FrameGeometry frame) {
  LightInput input;
  input.light = read_fits(job.path, s.max_pixels, &input.cards);
  check_size(job.path, input.light, Frame{frame.width, frame.height, {}}, "the dark frame");
  return input;
}

LightSummary match_light_file(const RunSettings& s, const DarkSet& set, const LightJob& job,
                              LightInput input, const std::vector<FileId>& inputs) {
  return finish_light(s, set, job, std::move(input.light), input.cards, inputs).summary;
}
