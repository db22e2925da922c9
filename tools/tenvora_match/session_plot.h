// The night's two scales, and the exposure ratio, in one picture.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/tenvora_match/session_report.h"

constexpr int32_t kPlotWidth = 1200, kPlotHeight = 600;

// Seconds since 1970-01-01T00:00:00 UTC of an ISO 8601 date and time,
// YYYY-MM-DDThh:mm:ss with optional fractional seconds and an optional Z;
// nothing for any other text.
std::optional<double> parse_date_obs(const std::string& text);

// A kPlotWidth x kPlotHeight PNG of the glow and hot-pixel scales of the
// rows, with bars of one standard error where the rows have one, and dashed
// beside them their exposure ratios: over time when every row has a
// DATE-OBS that parses, else over the order of the rows (1 .. n). Scales
// that are not finite are left out, and the caption counts the measured
// ones. Throws ToolError naming the path.
void write_plot(const std::string& path, const std::vector<SessionRow>& rows);
