#include "tools/tenvora_match/match_files.h"

#include <fitsio.h>

#include "matching/output_titles.h"
#include "tools/tenvora_match/fits_io.h"
#include "tools/tenvora_match/preview_png.h"
#include "tools/tenvora_match/staged_files.h"
#include "tools/tenvora_match/tool_error.h"

namespace {

std::string base_name(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string size_text(const Frame& frame) {
  return std::to_string(frame.width) + " x " + std::to_string(frame.height);
}

void check_size(const std::string& path, const Frame& frame, const Frame& light) {
  if (frame.width != light.width || frame.height != light.height)
    throw ToolError(path, "is " + size_text(frame) + ", the light frame " + size_text(light));
}

std::vector<FitsKey> header(const std::string& title, const MatchJob& job, const Measurement& l) {
  std::vector<FitsKey> keys = {
      text_key("OBJECT", title, "image title"),
      text_key("CREATOR", "tenvora-match " TENVORA_VERSION, "program that made this file"),
      text_key("LIGHT", base_name(job.light), "light frame"),
      text_key("DARK", base_name(job.dark), "dark frame")};
  if (!job.bias.empty()) {
    keys.push_back(text_key("BIAS", base_name(job.bias), "bias frame"));
    keys.push_back(integer_key("BIASFACT", job.bias_factor, "bias multiplication factor"));
  }
  const std::vector<FitsKey> levels = {
      float_key("GLOWLGT", l.glow_light, "glow level of the light"),
      float_key("GLOWDRK", l.glow_dark, "glow level of the dark's glow component"),
      float_key("GLOWRAT", l.glow_ratio, "glow scale: GLOWLGT / GLOWDRK"),
      double_key("HOTLGT", l.hot_light, "hot-pixel level of the light"),
      float_key("HOTDRK", l.hot_dark, "hot-pixel level of the dark's hot component"),
      float_key("HOTRAT", l.hot_ratio, "hot-pixel scale: HOTLGT / HOTDRK"),
      integer_key("DARKBLKX", l.darkest_block.x, "darkest 5x5 block of the light: column"),
      integer_key("DARKBLKY", l.darkest_block.y, "darkest 5x5 block: row (0 = FITS row 1)")};
  keys.insert(keys.end(), levels.begin(), levels.end());
  return keys;
}

}  // namespace

std::string output_name(const std::string& title) {
  if (title == kGlowTitle) return "glow.fits";
  if (title == kHotTitle) return "hot.fits";
  if (title == kMatchedTitle || title == kMatchedBiasTitle) return "matched.fits";
  if (title == kCorrectedTitle) return "corrected.fits";
  throw InternalError("the pipeline made an image titled \"" + title + "\"");
}

std::vector<std::string> output_names(bool subtract, bool preview) {
  std::vector<std::string> names = {"glow", "hot", "matched"};
  if (subtract) names.push_back("corrected");
  std::vector<std::string> files;
  for (const std::string& name : names) {
    files.push_back(name + ".fits");
    if (preview) files.push_back(name + ".png");
  }
  return files;
}

MatchOutcome match_files(const MatchJob& job) {
  const std::vector<FileId> inputs = file_ids({job.light, job.dark, job.bias});
  check_targets(job.out_dir, output_names(job.subtract, job.preview), job.overwrite, inputs);

  MatchOutcome outcome;
  outcome.light = read_fits(job.light, job.max_pixels);
  const Frame dark = read_fits(job.dark, job.max_pixels);
  check_size(job.dark, dark, outcome.light);
  Frame bias;
  if (!job.bias.empty()) {
    bias = read_fits(job.bias, job.max_pixels);
    check_size(job.bias, bias, outcome.light);
  }

  MatchInput input;
  input.light = &outcome.light;
  input.dark = &dark;
  input.bias = job.bias.empty() ? nullptr : &bias;
  input.bias_factor = job.bias_factor;
  input.subtract = job.subtract;
  MatchedFrames run = match_frames(input);
  outcome.images = std::move(run.images);
  const Measurement& levels = run.levels;

  Summary& s = outcome.summary;
  s.inputs.push_back({"light", job.light, outcome.light.width, outcome.light.height});
  s.inputs.push_back({"dark", job.dark, dark.width, dark.height});
  if (input.bias) s.inputs.push_back({"bias", job.bias, bias.width, bias.height});
  s.use_bias = input.bias != nullptr;
  s.bias_factor = job.bias_factor;
  s.subtract = job.subtract;
  s.levels = levels;
  // Staged only now that the inputs are read: an interruption before this
  // leaves nothing to clean up.
  StagedFiles staged(job.out_dir);
  for (const OutputImage& image : outcome.images) {
    const std::string name = output_name(image.title);
    OutputInfo info{join_path(job.out_dir, name), image.title, "", ""};
    staged.write(name, [&](const std::string& path) {
      write_fits(path, image.frame, header(image.title, job, levels));
    });
    if (job.preview) {
      // A preview is a convenience: without it the run still stands.
      const std::string png = name.substr(0, name.size() - 5) + ".png";
      try {
        staged.write(png, [&](const std::string& path) { write_preview_png(path, image.frame); });
        info.preview = join_path(job.out_dir, png);
      } catch (const std::exception& e) {
        info.preview_problem = e.what();
      }
    }
    s.outputs.push_back(info);
  }
  staged.commit(job.overwrite, inputs);
  return outcome;
}
