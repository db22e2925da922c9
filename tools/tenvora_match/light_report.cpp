#include "tools/tenvora_match/light_report.h"

#include <cmath>
#include <cstdlib>

#include "fits/fits_io.h"
#include "fits/output_keywords.h"
#include "tools/tenvora_match/match_files.h"

namespace {

std::string trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(' ');
  return first == std::string::npos ? ""
                                    : text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// FITS numbers may write the exponent with a D.
std::optional<double> card_number(const std::vector<std::string>& cards, const char* keyword) {
  std::optional<std::string> text = card_value(cards, keyword);
  if (!text || text->empty()) return std::nullopt;
  for (char& c : *text) c = c == 'D' || c == 'd' ? 'E' : c;
  char* end = nullptr;
  const double value = std::strtod(text->c_str(), &end);
  if (*end != '\0' || !std::isfinite(value)) return std::nullopt;
  return value;
}

double file_maximum(const PixelStorage& p) {
  return largest_representable(p.bitpix, p.bzero, p.bscale);
}

const float* plane(const MatchedFrames& matched, const std::string& kind) {
  for (const OutputImage& image : matched.images)
    if (output_kind(image.title) == kind) return image.frame.pixels.data();
  return nullptr;
}

std::vector<Diagnostic> check(const DarkSet& set, const Frame& light, const MatchedFrames& run,
                              const float* matched, const float* corrected) {
  DiagnosticInput in;
  in.width = set.frame.width, in.height = set.frame.height;
  in.use_bias = !set.bias.pixels.empty();
  in.light = light.pixels.data();
  in.bias = in.use_bias ? set.bias.pixels.data() : nullptr;
  in.bias_factor = set.bias_factor;
  in.dark = set.dark.pixels.data(), in.glow = set.glow.data();
  in.matched = matched, in.corrected = corrected;
  take_measurement(in, run.levels);
  in.exposure_ratio = run.exposure.ratio;
  in.light_maximum = file_maximum(light.storage), in.dark_maximum = file_maximum(set.dark.storage);
  in.dark_saturation = set.dark_saturation;
  return diagnose_match(in);
}

}  // namespace

double dark_saturation(const Frame& dark) {
  return saturation_level(dark.pixels.data(), dark.pixels.size(), file_maximum(dark.storage));
}

double exposure_seconds(const std::vector<std::string>& cards) {
  for (const char* keyword : kExposureKeywords)
    if (const std::optional<double> seconds = card_number(cards, keyword)) return *seconds;
  return NAN;
}

std::optional<std::string> card_value(const std::vector<std::string>& cards,
                                      const std::string& keyword) {
  for (const std::string& card : cards) {
    if (card_keyword(card) != keyword || card.compare(8, 2, "= ") != 0) continue;
    const std::string value = card.substr(10);
    const size_t start = value.find_first_not_of(' ');
    if (start != std::string::npos && value[start] == '\'') {
      const size_t end = value.find('\'', start + 1);
      return trimmed(value.substr(start + 1, end == std::string::npos ? end : end - start - 1));
    }
    return trimmed(value.substr(0, value.find('/')));
  }
  return std::nullopt;
}

void describe_earlier_light(LightSummary& summary, const std::vector<std::string>& cards) {
  namespace k = output_keyword;
  auto number = [&cards](const OutputKeyword& keyword) {
    return card_number(cards, keyword.name).value_or(NAN);
  };
  Measurement& m = summary.levels;
  m.glow_light = float(number(k::glow_light)), m.glow_dark = float(number(k::glow_dark));
  m.glow_ratio = float(number(k::glow_ratio));
  m.hot_light = number(k::hot_light), m.hot_dark = float(number(k::hot_dark));
  m.hot_ratio = float(number(k::hot_ratio));
  m.darkest_block.x = int32_t(card_number(cards, k::block_x.name).value_or(0));
  m.darkest_block.y = int32_t(card_number(cards, k::block_y.name).value_or(0));
  summary.exposure = {exposure_seconds(cards), number(k::dark_exposure), number(k::exposure_ratio)};
  const std::vector<std::string> codes =
      split_codes(card_value(cards, k::warnings.name).value_or(""));
  for (const std::string& code : codes) summary.warnings.push_back({code, "", {}});
  SessionRow& row = summary.report;
  row.file = summary.light.path;
  row.date_obs = card_value(cards, "DATE-OBS");
  if (!std::isnan(summary.exposure.light)) row.exptime = summary.exposure.light;
  row.ccd_temp = card_number(cards, "CCD-TEMP");
  row.glow_light = m.glow_light, row.glow_dark = m.glow_dark, row.glow_ratio = m.glow_ratio;
  row.hot_light = m.hot_light, row.hot_dark = m.hot_dark, row.hot_ratio = m.hot_ratio;
  row.exposure_ratio = summary.exposure.ratio;
  row.darkest_x = m.darkest_block.x, row.darkest_y = m.darkest_block.y;
  row.warnings = codes;
}

void describe_light(LightSummary& summary, const DarkSet& set, const Frame& light,
                    const std::vector<std::string>& cards, const MatchedFrames& matched) {
  const Measurement& m = matched.levels;
  const float* matched_plane = plane(matched, "matched");
  const float* corrected = plane(matched, "corrected");
  summary.warnings = check(set, light, matched, matched_plane, corrected);
  summary.exposure = matched.exposure;

  SessionRow& row = summary.report;
  row.file = summary.light.path;
  row.date_obs = card_value(cards, "DATE-OBS");
  if (!std::isnan(matched.exposure.light)) row.exptime = matched.exposure.light;
  row.exposure_ratio = matched.exposure.ratio;
  row.ccd_temp = card_number(cards, "CCD-TEMP");
  row.glow_light = m.glow_light, row.glow_dark = m.glow_dark, row.glow_ratio = m.glow_ratio;
  row.hot_light = m.hot_light, row.hot_dark = m.hot_dark, row.hot_ratio = m.hot_ratio;
  row.darkest_x = m.darkest_block.x, row.darkest_y = m.darkest_block.y;
  const CornerStats stats =
      corner_stats(light.pixels.data(), matched_plane, corrected, light.width, light.height);
  row.noise_light = stats.noise_light, row.noise_corrected = stats.noise_corrected;
  row.negative_share = stats.negative_share;
  for (const Diagnostic& warning : summary.warnings) row.warnings.push_back(warning.code);
}
