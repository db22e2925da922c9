#include "tools/tenvora_match/session_report.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>

#include "fits/tool_error.h"

// Ordered, so the objects keep the columns' order.
using json = nlohmann::ordered_json;

namespace {

// Median of values[0 .. n), reordering them.
double median_in_place(double* values, size_t n) {
  double* middle = values + n / 2;
  std::nth_element(values, middle, values + n);
  if (n % 2) return *middle;
  return 0.5 * (*std::max_element(values, middle) + *middle);
}

// The decimal a float reads as: the double of its shortest round-trip text,
// so JSON shows 0.6 where the float is 0.6f, not 0.60000002384185791.
json float_value(float value) {
  if (!std::isfinite(value)) return nullptr;
  char text[32];
  const auto end = std::to_chars(text, text + sizeof text, value).ptr;
  double decimal = 0.0;
  std::from_chars(text, end, decimal);
  return decimal;
}

json double_value(double value) {
  return std::isfinite(value) ? json(value) : json(nullptr);
}

json optional_value(const std::optional<double>& value) {
  return value ? double_value(*value) : json(nullptr);
}

constexpr std::array<const char*, 35> kColumns = {"file",
                                                  "date_obs",
                                                  "exptime",
                                                  "ccd_temp",
                                                  "glow_light",
                                                  "glow_dark",
                                                  "glow_ratio",
                                                  "hot_light",
                                                  "hot_dark",
                                                  "hot_ratio",
                                                  "exposure_ratio",
                                                  "darkest_x",
                                                  "darkest_y",
                                                  "noise_light",
                                                  "noise_corrected",
                                                  "negative_share",
                                                  "method",
                                                  "glow_scale",
                                                  "glow_error",
                                                  "hot_scale",
                                                  "hot_error",
                                                  "sky_level",
                                                  "sky_x",
                                                  "sky_y",
                                                  "fit_used",
                                                  "fit_clipped",
                                                  "fit_left_out",
                                                  "fit_noise",
                                                  "noise_fit",
                                                  "hot_residual_fit",
                                                  "noise_plugin",
                                                  "hot_residual_plugin",
                                                  "noise_exposure",
                                                  "hot_residual_exposure",
                                                  "warnings"};

// A correction's noise (first) or hot-pixel residual, null when not measured.
json correction_value(const SessionRow& r, const char* by, bool noise) {
  const auto found = r.corrections.find(by);
  if (found == r.corrections.end()) return nullptr;
  return double_value(noise ? found->second.first : found->second.second);
}

json count_value(const SessionRow& r, int64_t count) {
  return r.method == "fit" ? json(count) : json(nullptr);
}

// The row's cells in the order of kColumns; null where a value is absent.
std::array<json, kColumns.size()> cells(const SessionRow& r) {
  return {r.file,
          r.date_obs ? json(*r.date_obs) : json(nullptr),
          optional_value(r.exptime),
          optional_value(r.ccd_temp),
          float_value(r.glow_light),
          float_value(r.glow_dark),
          float_value(r.glow_ratio),
          double_value(r.hot_light),
          float_value(r.hot_dark),
          float_value(r.hot_ratio),
          double_value(r.exposure_ratio),
          r.darkest_x,
          r.darkest_y,
          double_value(r.noise_light),
          double_value(r.noise_corrected),
          double_value(r.negative_share),
          r.method,
          float_value(r.glow_scale),
          double_value(r.glow_error),
          float_value(r.hot_scale),
          double_value(r.hot_error),
          double_value(r.sky_level),
          double_value(r.sky_x),
          double_value(r.sky_y),
          count_value(r, r.fit_used),
          count_value(r, r.fit_clipped),
          count_value(r, r.fit_left_out),
          double_value(r.fit_noise),
          correction_value(r, "fit", true),
          correction_value(r, "fit", false),
          correction_value(r, "plugin", true),
          correction_value(r, "plugin", false),
          correction_value(r, "exposure", true),
          correction_value(r, "exposure", false),
          r.warnings};
}

std::string csv_field(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

// Strings go out as their bytes; numbers in JSON's shortest round-trip form.
std::string csv_cell(const json& cell) {
  if (cell.is_null()) return "";
  if (cell.is_string()) return csv_field(cell.get<std::string>());
  if (cell.is_array()) {
    std::string joined;
    for (const json& item : cell) joined += (joined.empty() ? "" : ";") + item.get<std::string>();
    return csv_field(joined);
  }
  return cell.dump();
}

void write_csv(std::ostream& out, const std::vector<SessionRow>& rows) {
  for (size_t k = 0; k < kColumns.size(); ++k) out << (k ? "," : "") << kColumns[k];
  out << "\n";
  for (const SessionRow& row : rows) {
    const auto values = cells(row);
    for (size_t k = 0; k < values.size(); ++k) out << (k ? "," : "") << csv_cell(values[k]);
    out << "\n";
  }
}

void write_json(std::ostream& out, const std::vector<SessionRow>& rows) {
  json report = json::array();
  for (const SessionRow& row : rows) {
    const auto values = cells(row);
    json object;
    for (size_t k = 0; k < kColumns.size(); ++k) object[kColumns[k]] = values[k];
    report.push_back(object);
  }
  out << report.dump(2, ' ', false, json::error_handler_t::replace) << "\n";
}

bool ends_with_nocase(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() &&
         std::equal(
             suffix.begin(), suffix.end(), text.end() - suffix.size(),
             [](unsigned char a, unsigned char b) { return std::tolower(a) == std::tolower(b); });
}

}  // namespace

PlaneRegion glow_corner_region(int32_t width, int32_t height) {
  const int32_t side_x = std::min(kCornerSide, width), side_y = std::min(kCornerSide, height);
  return {0, height - side_y, side_x, side_y};
}

double robust_sigma(const float* plane, int32_t width, PlaneRegion region) {
  std::vector<double> values;
  values.reserve(static_cast<size_t>(region.width) * region.height);
  for (int32_t y = region.y; y < region.y + region.height; ++y) {
    const float* row = plane + static_cast<size_t>(y) * width;
    for (int32_t x = region.x; x < region.x + region.width; ++x)
      if (!std::isnan(row[x])) values.push_back(row[x]);
  }
  if (values.empty()) return NAN;
  const double centre = median_in_place(values.data(), values.size());
  if (!std::isfinite(centre)) return NAN;
  for (double& v : values) v = std::fabs(v - centre);
  return 1.4826 * median_in_place(values.data(), values.size());
}

namespace {

template <class Pixel>
double negative_share_of(size_t count, Pixel pixel) {
  size_t numbers = 0, negative = 0;
  for (size_t i = 0; i < count; ++i) {
    const float value = pixel(i);
    numbers += !std::isnan(value);
    negative += value < 0.0f;
  }
  return numbers ? static_cast<double>(negative) / numbers : NAN;
}

}  // namespace

double negative_share(const float* plane, int32_t width, int32_t height) {
  return negative_share_of(static_cast<size_t>(width) * height,
                           [plane](size_t i) { return plane[i]; });
}

CornerStats corner_stats(const float* light, const float* matched, const float* corrected,
                         int32_t width, int32_t height) {
  const PlaneRegion corner = glow_corner_region(width, height);
  const double noise_light = robust_sigma(light, width, corner);
  if (corrected)
    return {noise_light, robust_sigma(corrected, width, corner),
            negative_share(corrected, width, height)};
  // The corrected pixels as the difference of the two planes gives them.
  std::vector<float> formed;
  formed.reserve(static_cast<size_t>(corner.width) * corner.height);
  for (int32_t y = corner.y; y < corner.y + corner.height; ++y)
    for (int32_t x = corner.x; x < corner.x + corner.width; ++x) {
      const size_t i = static_cast<size_t>(y) * width + x;
      formed.push_back(light[i] - matched[i]);
    }
  return {noise_light,
          robust_sigma(formed.data(), corner.width, {0, 0, corner.width, corner.height}),
          negative_share_of(static_cast<size_t>(width) * height,
                            [light, matched](size_t i) { return light[i] - matched[i]; })};
}

ReportFormat report_format(const std::string& path) {
  if (ends_with_nocase(path, ".csv")) return ReportFormat::csv;
  if (ends_with_nocase(path, ".json")) return ReportFormat::json;
  throw ToolError(path, "a report must be named .csv or .json");
}

void write_report(std::ostream& out, ReportFormat format, const std::vector<SessionRow>& rows) {
  if (format == ReportFormat::csv)
    write_csv(out, rows);
  else
    write_json(out, rows);
}

void write_report(const std::string& path, const std::vector<SessionRow>& rows) {
  const ReportFormat format = report_format(path);
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  if (!file) throw ToolError(path, std::string("cannot be created: ") + std::strerror(errno));
  errno = 0;
  write_report(file, format, rows);
  file.close();
  if (!file) {
    const int error = errno;
    std::remove(path.c_str());
    throw ToolError(path, "cannot be written" +
                              (error ? std::string(": ") + std::strerror(error) : std::string()));
  }
}
