// Whether a frame is in ADU or normalised to 0..1, as some calibration
// programs store float masters: a master of the other units than the light
// would be scaled by a factor of tens of thousands without a word.
#pragma once

#include <string>

#include "fits/frame.h"

enum class FrameUnits { adu, normalised, unknown };

// adu: an integer file, or more than half of the finite values above 2;
// normalised: a floating-point file whose finite values all lie within
// -0.5 to 1.5 (at least one); else unknown. One pass over the pixels.
FrameUnits frame_units(const Frame& frame);

// Throws ToolError naming the path of the frame (a dark or a bias) when it
// and the reference (the light, or the dark) are of different units, with
// what the frame looks like and what to do.
void check_units(const std::string& path, FrameUnits units, const std::string& reference_path,
                 FrameUnits reference_units);
