// The single checks behind diagnose_match; each appends its warnings.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "diagnostics/diagnostics.h"

void check_corner_source(const DiagnosticInput& input, std::vector<Diagnostic>& warnings);
void check_weak_dark_glow(const DiagnosticInput& input, std::vector<Diagnostic>& warnings);
void check_dark_holds_bias(const DiagnosticInput& input, std::vector<Diagnostic>& warnings);
void check_saturated_hot_pixels(const DiagnosticInput& input, std::vector<Diagnostic>& warnings);
void check_empty_hot_cells(const DiagnosticInput& input, std::vector<Diagnostic>& warnings);
void check_ratios(const DiagnosticInput& input, std::vector<Diagnostic>& warnings);
void check_exposure_ratio(const DiagnosticInput& input, std::vector<Diagnostic>& warnings);
void check_negative_pixels(const DiagnosticInput& input, std::vector<Diagnostic>& warnings);
void check_fit(const DiagnosticInput& input, std::vector<Diagnostic>& warnings);

inline size_t pixel_index(const DiagnosticInput& input, int32_t x, int32_t y) {
  return static_cast<size_t>(y) * static_cast<size_t>(input.width) + static_cast<size_t>(x);
}

// The light as its levels were measured, at pixel i.
inline float measured_light(const DiagnosticInput& input, size_t i) {
  float value = input.light[i];
  for (int32_t k = 0; input.use_bias && k < input.bias_factor; ++k) value = value - input.bias[i];
  return value;
}

// The part of saturation_level that the file's largest value sets:
// saturation_fraction of it, NaN when it is unknown (NaN or 0).
double representable_saturation(double maximum);

// printf-style text of a warning.
std::string sentence(const char* format, ...) __attribute__((format(printf, 1, 2)));
