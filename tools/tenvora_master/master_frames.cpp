#include "tools/tenvora_master/master_frames.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "fits/frame_list.h"
#include "fits/output_keywords.h"
#include "fits/tool_error.h"

namespace {

std::string trimmed(const std::string& text) {
  const size_t start = text.find_first_not_of(' ');
  if (start == std::string::npos) return "";
  return text.substr(start, text.find_last_not_of(' ') - start + 1);
}

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string number_text(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.10g", value);
  return text;
}

// What an IMAGETYP value names, as camera programs write it.
std::string kind_of(const std::string& imagetyp) {
  const std::string value = lower(imagetyp);
  const struct {
    const char* word;
    const char* kind;
  } kWords[] = {{"bias", "bias"}, {"zero", "bias"},   {"offset", "bias"},  {"dark", "dark"},
                {"flat", "flat"}, {"light", "light"}, {"object", "light"}, {"science", "light"}};
  for (const auto& w : kWords)
    if (value.find(w.word) != std::string::npos) return w.kind;
  return "";
}

// The exposure under either name cameras write it.
std::optional<double> exposure(const std::vector<std::string>& cards) {
  const auto exptime = header_number(cards, "EXPTIME");
  return exptime ? exptime : header_number(cards, "EXPOSURE");
}

std::string value_text(const std::optional<double>& value) {
  return value ? number_text(*value) : "none";
}

// The values the frames must agree on.
const char* const kAgreeing[] = {"EXPTIME", "SET-TEMP", "GAIN", "OFFSET"};

std::optional<double> agreeing_value(const std::vector<std::string>& cards, const char* key) {
  return std::string(key) == "EXPTIME" ? exposure(cards) : header_number(cards, key);
}

double median_of(std::vector<double> values) {
  const size_t n = values.size();
  std::sort(values.begin(), values.end());
  return 0.5 * (values[(n - 1) / 2] + values[n / 2]);
}

// How far a frame may stand from the others before it is named.
constexpr double kLevelNoises = 1.0;  // its median, in noise units of the frames
constexpr double kNoiseRatio = 1.5;   // its noise, as a ratio to the frames'

}  // namespace

std::optional<std::string> header_text(const std::vector<std::string>& cards,
                                       const std::string& keyword) {
  for (const std::string& card : cards) {
    if (card_keyword(card) != keyword || card.size() < 10 || card.compare(8, 2, "= ") != 0)
      continue;
    const std::string rest = trimmed(card.substr(10));
    if (rest.empty() || rest[0] != '\'') return trimmed(rest.substr(0, rest.find('/')));
    std::string value;
    for (size_t k = 1; k < rest.size(); ++k) {
      if (rest[k] != '\'') {
        value += rest[k];
      } else if (k + 1 < rest.size() && rest[k + 1] == '\'') {
        value += '\'';
        ++k;
      } else {
        break;
      }
    }
    return value.erase(value.find_last_not_of(' ') + 1);
  }
  return std::nullopt;
}

std::optional<double> header_number(const std::vector<std::string>& cards,
                                    const std::string& keyword) {
  const auto text = header_text(cards, keyword);
  if (!text || text->empty()) return std::nullopt;
  std::string number = *text;
  std::replace(number.begin(), number.end(), 'D', 'E');  // FITS allows 1.0D3
  char* end = nullptr;
  const double value = std::strtod(number.c_str(), &end);
  if (*end != '\0' || !std::isfinite(value)) return std::nullopt;
  return value;
}

std::string master_kind(const std::string& kind_option, const std::vector<FrameInfo>& frames,
                        std::vector<MasterWarning>* warnings) {
  std::string kind = kind_option;
  for (const FrameInfo& frame : frames) {
    const std::string imagetyp = header_text(frame.cards, "IMAGETYP").value_or("");
    const std::string said = kind_of(imagetyp);
    const std::string named = imagetyp.empty() ? "no IMAGETYP" : "IMAGETYP '" + imagetyp + "'";
    if (!kind_option.empty()) {
      if (!said.empty() && said != kind_option)
        warnings->push_back({frame.path, "other-kind",
                             named + ": a " + said + " frame among " + kind_option + " frames"});
      continue;
    }
    if (said != "bias" && said != "dark")
      throw ToolError(frame.path, "has " + named + ", which says neither bias nor dark: give " +
                                      "--kind bias or --kind dark");
    if (kind.empty()) kind = said;
    if (said != kind)
      throw ToolError(frame.path, "has " + named + " (" + said + "), the first frame " +
                                      frames.front().path + " is a " + kind +
                                      " frame: give --kind to combine them");
  }
  return kind;
}

void check_frames(const std::vector<FrameInfo>& frames, bool refuse_mismatch,
                  std::vector<MasterWarning>* warnings) {
  const FrameInfo& first = frames.front();
  const auto size_text = [](const FrameInfo& f) {
    return std::to_string(f.width) + " x " + std::to_string(f.height);
  };
  for (const FrameInfo& frame : frames) {
    if (frame.width != first.width || frame.height != first.height)
      throw ToolError(frame.path, "is " + size_text(frame) + ", the first frame " + first.path +
                                      " " + size_text(first) + ": the frames must have one size");
    for (const char* key : {"XBINNING", "YBINNING"}) {
      const auto mine = header_number(frame.cards, key), theirs = header_number(first.cards, key);
      if (mine != theirs)
        throw ToolError(frame.path, std::string(key) + " " + value_text(mine) +
                                        " differs from the first frame's " + value_text(theirs) +
                                        " (" + first.path + "): the frames must have one binning");
    }
    for (const char* key : kAgreeing) {
      const auto mine = agreeing_value(frame.cards, key);
      const auto theirs = agreeing_value(first.cards, key);
      if (mine == theirs) continue;
      const std::string message = std::string(key) + " " + value_text(mine) +
                                  " differs from the first frame's " + value_text(theirs) + " (" +
                                  first.path + ")";
      if (refuse_mismatch) throw ToolError(frame.path, message + " (--refuse-mismatch)");
      warnings->push_back({frame.path, "header-differs", message});
    }
  }
}

std::vector<MasterWarning> outlier_warnings(const std::vector<FrameInfo>& frames,
                                            const std::vector<FrameStats>& stats) {
  std::vector<MasterWarning> warnings;
  if (stats.size() < 3) return warnings;
  std::vector<double> medians, noises;
  for (const FrameStats& s : stats) {
    medians.push_back(s.median);
    noises.push_back(s.noise);
  }
  const double median = median_of(medians), noise = median_of(noises);
  for (size_t f = 0; f < stats.size(); ++f) {
    const FrameStats& s = stats[f];
    if (std::abs(s.median - median) > kLevelNoises * noise)
      warnings.push_back({frames[f].path, "level-differs",
                          "median " + number_text(s.median) + " stands " +
                              number_text(std::abs(s.median - median) / noise) +
                              " noise units from the frames' " + number_text(median) + " (noise " +
                              number_text(noise) + ")"});
    if (s.noise > kNoiseRatio * noise || s.noise * kNoiseRatio < noise)
      warnings.push_back({frames[f].path, "noise-differs",
                          "noise " + number_text(s.noise) + " against the frames' " +
                              number_text(noise) + " (median " + number_text(s.median) + ")"});
  }
  return warnings;
}

std::vector<std::string> common_cards(const std::vector<FrameInfo>& frames) {
  std::vector<std::string> common;
  for (const std::string& card : frames.front().cards)
    if (std::all_of(frames.begin() + 1, frames.end(), [&card](const FrameInfo& f) {
          return std::find(f.cards.begin(), f.cards.end(), card) != f.cards.end();
        }))
      common.push_back(card);
  return common;
}

std::vector<FitsKey> master_keys(const MasterHeader& h, const std::vector<FrameInfo>& frames) {
  const size_t n = frames.size();
  const char* title = h.kind == "bias" ? "Master Bias" : "Master Dark";
  std::vector<FitsKey> keys = {
      text_key("IMAGETYP", title, "type of image"),
      text_key("CREATOR", "tenvora-master " TENVORA_VERSION, "program that made this file"),
      integer_key("NCOMBINE", static_cast<long long>(n), "number of frames combined"),
      text_key("COMBMETH", method_name(h.rule.method), "how the frames were combined")};
  if (h.rule.method == CombineMethod::sigma_clip) {
    keys.push_back(double_key("CLIPKAPP", h.rule.kappa, "clipping limit in robust sigmas"));
    keys.push_back(double_key("CLIPFRAC", h.clipped_share, "share of the values clipped"));
  }
  std::vector<double> exposures, temperatures;
  std::string date_obs;
  for (const FrameInfo& f : frames) {
    if (const auto e = exposure(f.cards)) exposures.push_back(*e);
    if (const auto t = header_number(f.cards, "CCD-TEMP")) temperatures.push_back(*t);
    const std::string date = header_text(f.cards, "DATE-OBS").value_or("");
    if (!date.empty() && (date_obs.empty() || date < date_obs)) date_obs = date;
  }
  const auto mean = [](const std::vector<double>& v) {
    double sum = 0.0;
    for (double x : v) sum += x;
    return sum / static_cast<double>(v.size());
  };
  if (!exposures.empty()) {
    const bool alike = std::all_of(exposures.begin(), exposures.end(),
                                   [&](double e) { return e == exposures.front(); });
    keys.push_back(double_key("EXPTIME", alike ? exposures.front() : mean(exposures),
                              alike ? "exposure time of the frames (s)"
                                    : "mean exposure time of the frames, which differ (s)"));
  }
  if (!temperatures.empty()) {
    const auto [low, high] = std::minmax_element(temperatures.begin(), temperatures.end());
    keys.push_back(double_key("CCD-TEMP", mean(temperatures), "mean sensor temperature (C)"));
    keys.push_back(double_key("CCDTSPRD", *high - *low, "CCD-TEMP maximum less minimum (C)"));
  }
  if (!date_obs.empty())
    keys.push_back(text_key("DATE-OBS", date_obs, "start of the first frame's exposure"));
  if (!h.bias.empty())
    keys.push_back(text_key(output_keyword::bias_file.name, base_name(h.bias),
                            "master bias taken from each frame"));
  std::string how = std::string("tenvora-master: ") + title + " of " + std::to_string(n) +
                    " frames, " + method_name(h.rule.method);
  if (h.rule.method == CombineMethod::sigma_clip)
    how += " (kappa " + number_text(h.rule.kappa) + ", mean after clipping)";
  keys.push_back(history_key(how));
  if (!h.bias.empty()) keys.push_back(history_key("bias subtracted first: " + base_name(h.bias)));
  for (size_t f = 0; f < n; ++f)
    keys.push_back(
        history_key("frame " + std::to_string(f + 1) + ": " + base_name(frames[f].path)));
  return keys;
}
