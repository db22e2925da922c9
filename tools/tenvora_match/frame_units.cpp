#include "tools/tenvora_match/frame_units.h"

#include <cmath>
#include <cstddef>

#include "fits/tool_error.h"

namespace {

constexpr float kNormalisedLow = -0.5f, kNormalisedHigh = 1.5f, kAduAbove = 2.0f;

}  // namespace

FrameUnits frame_units(const Frame& frame) {
  if (frame.storage.bitpix > 0) return FrameUnits::adu;
  size_t finite = 0, inside = 0, above = 0;
  for (const float v : frame.pixels) {
    finite += std::isfinite(v);
    inside += v >= kNormalisedLow && v <= kNormalisedHigh;
    above += v > kAduAbove && v < INFINITY;
  }
  if (finite > 0 && inside == finite) return FrameUnits::normalised;
  return 2 * above > finite ? FrameUnits::adu : FrameUnits::unknown;
}

void check_units(const std::string& path, FrameUnits units, const std::string& reference_path,
                 FrameUnits reference_units) {
  const std::string range = "every value within -0.5 to 1.5";
  if (units == FrameUnits::normalised && reference_units == FrameUnits::adu)
    throw ToolError(path, "looks normalised to 0..1 (" + range + ") while " + reference_path +
                              " is in ADU; rescale it to ADU, e.g. multiply by 65535");
  if (units == FrameUnits::adu && reference_units == FrameUnits::normalised)
    throw ToolError(path, "is in ADU while " + reference_path + " looks normalised to 0..1 (" +
                              range +
                              "); give both in the same units, e.g. this one divided by 65535");
}
