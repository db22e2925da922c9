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
  // A set spent on its one light (under the fit, whose checks do not read
  // it) gave its glow plane to the scaled output.
  in.dark = set.dark.pixels.data();
  in.glow = set.glow.empty() ? nullptr : set.glow.data();
  in.matched = matched, in.corrected = corrected;
  take_measurement(in, run.levels);
  in.exposure_ratio = run.exposure.ratio;
  if (run.method == MatchMethod::fit) take_fit(in, run.fit, run.glow_scale, run.hot_scale);
  in.light_maximum = file_maximum(light.storage), in.dark_maximum = file_maximum(set.dark.storage);
  in.dark_saturation = set.dark_saturation;
  return diagnose_match(in);
}

// What the dark did under each set of scales, on the fit's pixels.
std::vector<Correction> corrections(const DarkSet& set, const MatchedFrames& run,
                                    double exposure_ratio) {
  std::vector<std::pair<const char*, std::pair<double, double>>> scales = {
      {"fit", {run.fit.glow_scale, run.fit.hot_scale}},
      {"plugin", {run.levels.glow_ratio, run.levels.hot_ratio}}};
  if (!run.fit.solved) scales.erase(scales.begin());
  if (!std::isnan(exposure_ratio)) scales.push_back({"exposure", {exposure_ratio, exposure_ratio}});
  std::vector<Correction> result;
  for (const auto& [by, scale] : scales) {
    const CorrectionQuality q =
        correction_quality(set.sample, run.sample_values, scale.first, scale.second);
    result.push_back({by, scale.first, scale.second, q.noise, q.hot_residual});
  }
  return result;
}

// The report's columns of the method, the scales and the fit (left empty
// under the plug-in's method).
void fill_scale_columns(SessionRow& row, const LightSummary& summary) {
  row.method = method_name(summary.method);
  row.glow_scale = summary.glow_scale, row.hot_scale = summary.hot_scale;
  if (summary.method != MatchMethod::fit) return;
  const ScaleFit& f = summary.fit;
  row.glow_error = f.glow_error, row.hot_error = f.hot_error;
  row.sky_level = f.sky_level, row.sky_x = f.sky_x, row.sky_y = f.sky_y;
  row.fit_used = f.used, row.fit_clipped = f.clipped, row.fit_left_out = f.left_out;
  row.fit_noise = f.residual_noise;
}

}  // namespace

double exposure_seconds(const std::vector<std::string>& cards) {
  for (const char* keyword : kExposureKeywords)
    if (const std::optional<double> seconds = card_number(cards, keyword)) return *seconds;
  return NAN;
}

std::optional<std::string> card_value(const std::vector<std::string>& cards,
                                      const std::string& keyword) {
  // The text of a quoted value from column 11 on, '' standing for a quote;
  // nothing when the field holds no quote.
  const auto quoted = [](const std::string& card) -> std::optional<std::string> {
    const size_t open = card.find_first_not_of(' ', 10);
    if (open == std::string::npos || card[open] != '\'') return std::nullopt;
    std::string text;
    for (size_t at = open + 1; at < card.size(); ++at) {
      if (card[at] != '\'') {
        text += card[at];
      } else if (at + 1 < card.size() && card[at + 1] == '\'') {
        text += '\'', ++at;
      } else {
        break;
      }
    }
    return text;
  };
  for (size_t k = 0; k < cards.size(); ++k) {
    const std::string& card = cards[k];
    if (card_keyword(card) != keyword || card.compare(8, 2, "= ") != 0) continue;
    std::optional<std::string> text = quoted(card);
    if (!text) return trimmed(card.substr(10, card.find('/', 10) - 10));
    // A long string goes on in CONTINUE cards while its text ends in &.
    for (size_t next = k + 1; !text->empty() && text->back() == '&' && next < cards.size() &&
                              card_keyword(cards[next]) == "CONTINUE";
         ++next) {
      const std::optional<std::string> more = quoted(cards[next]);
      if (!more) break;
      text->pop_back();
      *text += *more;
    }
    return trimmed(*text);
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
  summary.method =
      card_value(cards, k::method.name) == std::string(method_name(MatchMethod::plugin))
          ? MatchMethod::plugin
          : MatchMethod::fit;
  summary.glow_scale = float(number(k::glow_scale)),
  summary.hot_scale = float(number(k::hot_scale));
  ScaleFit& f = summary.fit;
  f.glow_error = number(k::glow_scale_error), f.hot_error = number(k::hot_scale_error);
  f.sky_level = number(k::sky_0), f.sky_x = number(k::sky_x), f.sky_y = number(k::sky_y);
  const auto count = [&cards](const OutputKeyword& keyword) {
    return int64_t(card_number(cards, keyword.name).value_or(0));
  };
  f.used = count(k::fit_pixels), f.clipped = count(k::fit_clipped);
  f.left_out = count(k::fit_left_out), f.residual_noise = number(k::fit_noise);
  // The fit's scales went into the outputs only when it was solved.
  f.solved = summary.method == MatchMethod::fit && f.used > 0;
  if (f.solved) f.glow_scale = summary.glow_scale, f.hot_scale = summary.hot_scale;
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
  fill_scale_columns(row, summary);
  row.warnings = codes;
}

void describe_light(LightSummary& summary, const DarkSet& set, const Frame& light,
                    const std::vector<std::string>& cards, const MatchedFrames& matched) {
  const Measurement& m = matched.levels;
  const float* matched_plane = plane(matched, "matched");
  const float* corrected = plane(matched, "corrected");
  summary.warnings = check(set, light, matched, matched_plane, corrected);
  summary.exposure = matched.exposure;
  summary.method = matched.method;
  summary.glow_scale = matched.glow_scale, summary.hot_scale = matched.hot_scale;
  summary.fit = matched.fit;
  summary.corrections = corrections(set, matched, matched.exposure.ratio);

  SessionRow& row = summary.report;
  row.file = summary.light.path;
  row.date_obs = card_value(cards, "DATE-OBS");
  if (!std::isnan(matched.exposure.light)) row.exptime = matched.exposure.light;
  row.exposure_ratio = matched.exposure.ratio;
  row.ccd_temp = card_number(cards, "CCD-TEMP");
  row.glow_light = m.glow_light, row.glow_dark = m.glow_dark, row.glow_ratio = m.glow_ratio;
  row.hot_light = m.hot_light, row.hot_dark = m.hot_dark, row.hot_ratio = m.hot_ratio;
  row.darkest_x = m.darkest_block.x, row.darkest_y = m.darkest_block.y;
  fill_scale_columns(row, summary);
  for (const Correction& c : summary.corrections) row.corrections[c.by] = {c.noise, c.hot_residual};
  const CornerStats stats =
      corner_stats(light.pixels.data(), matched_plane, corrected, light.width, light.height);
  row.noise_light = stats.noise_light, row.noise_corrected = stats.noise_corrected;
  row.negative_share = stats.negative_share;
  row.warnings = split_codes(warning_codes(summary.warnings));  // each code once, as TVWARN
}
