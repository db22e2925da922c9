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
void check_negative_pixels(const DiagnosticInput& input, std::vector<Diagnostic>& warnings);

inline size_t pixel_index(const DiagnosticInput& input, int32_t x, int32_t y) {
  return static_cast<size_t>(y) * static_cast<size_t>(input.width) + static_cast<size_t>(x);
}

// printf-style text of a warning.
std::string sentence(const char* format, ...) __attribute__((format(printf, 1, 2)));
