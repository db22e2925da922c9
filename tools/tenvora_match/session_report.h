// The night at a glance: one row per light of a batch, with the noise at the
// glow corner before and after correction, written as CSV or JSON.
#pragma once

#include <cmath>
#include <cstdint>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

struct SessionRow {
  std::string file;  // the light, as named on the command line
  std::optional<std::string> date_obs;
  std::optional<double> exptime, ccd_temp;
  float glow_light = NAN, glow_dark = NAN, glow_ratio = NAN;
  double hot_light = NAN;
  float hot_dark = NAN, hot_ratio = NAN;
  double exposure_ratio = NAN;           // light's exposure time over the dark's
  int32_t darkest_x = 0, darkest_y = 0;  // anchor of the darkest 5x5 block
  // NaN when not measured (no corrected light, or nothing finite to measure).
  double noise_light = NAN, noise_corrected = NAN;
  double negative_share = NAN;
  // How the scales were found, the scales the outputs were made with, and
  // the fit (NaN and 0 under the plug-in's method).
  std::string method = "fit";
  float glow_scale = NAN, hot_scale = NAN;
  double glow_error = NAN, hot_error = NAN, sky_level = NAN, sky_x = NAN, sky_y = NAN;
  int64_t fit_used = 0, fit_clipped = 0, fit_left_out = 0;
  double fit_noise = NAN;
  // What the dark did under the fit, the plug-in's levels and the exposure
  // ratio ("fit", "plugin", "exposure"): noise and hot-pixel residual of the
  // corrected light on the fit's pixels; absent when not measured.
  std::map<std::string, std::pair<double, double>> corrections;
  std::vector<std::string> warnings;  // stable codes, e.g. "corner-source"
};

// A rectangle of a plane: columns x .. x + width - 1, rows y .. y + height - 1.
struct PlaneRegion {
  int32_t x, y, width, height;
};

constexpr int32_t kCornerSide = 64;

// The kCornerSide square whose corner is the frame's column 0 and last row,
// where the glow level is read, clipped to the frame.
PlaneRegion glow_corner_region(int32_t width, int32_t height);

// 1.4826 x the median absolute deviation of the region's pixels, skipping
// NaN; NaN when no pixel is left or the median is infinite. Even counts take
// the mean of the two middle values. Allocates one buffer of the region's size.
double robust_sigma(const float* plane, int32_t width, PlaneRegion region);

// The share of the plane's non-NaN pixels that are below zero; NaN when
// every pixel is NaN.
double negative_share(const float* plane, int32_t width, int32_t height);

struct CornerStats {
  double noise_light, noise_corrected, negative_share;
};

// The noise of the light and of the corrected light in the glow corner, and
// the corrected light's negative share. Without a corrected plane (null) the
// corrected pixels are formed one at a time from the light and the matched
// dark, without a plane of their own.
CornerStats corner_stats(const float* light, const float* matched, const float* corrected,
                         int32_t width, int32_t height);

enum class ReportFormat { csv, json };

// From the file's extension, .csv or .json in any case; throws ToolError
// naming the path otherwise. Lets a batch refuse a bad name before it runs.
ReportFormat report_format(const std::string& path);

// CSV: a header line and one line per row (LF line ends, RFC 4180 quoting),
// empty cells for absent or NaN values, warnings joined by ';'. JSON: an
// array of objects, null for absent or non-finite values; bytes of the file
// name that are not UTF-8 become U+FFFD. Numbers are the shortest texts that
// read back as the same float or double.
void write_report(std::ostream& out, ReportFormat format, const std::vector<SessionRow>& rows);

// Writes the report in the format the path's extension names; throws
// ToolError naming the path when the name or the writing fails.
void write_report(const std::string& path, const std::vector<SessionRow>& rows);
