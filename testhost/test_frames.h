// Synthetic frames for end-to-end runs, bit for bit the same in every build:
// they come from integer hashing and IEEE additions, multiplications and
// divisions only, never from library functions whose rounding may differ.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testhost {

// Fills `pixels` with a width x height frame of the kind named by
// `words[0]`, with its numeric arguments after it:
//
//   light SENSOR SEED   sky with stars, plus 1.7 times the sensor's dark signal
//   dark SENSOR SEED    an offset plus the sensor's dark signal: amplifier glow
//                       near the lower left corner and hot pixels
//   bias SEED           the offset with a column pattern and read noise
//   special SEED        values near 100 strewn with NaN, +/-inf, +/-0.0,
//                       subnormals and the largest floats
//
// The same SENSOR gives the same glow and hot pixels; SEED varies the noise.
// Returns false with `error` set for an unknown kind or bad arguments.
bool generate_frame(const std::vector<std::string>& words, int32_t width, int32_t height,
                    std::vector<float>& pixels, std::string& error);

}  // namespace testhost
