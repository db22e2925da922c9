// The titles of the images a run makes, in the order it makes them.
#pragma once

constexpr char kGlowTitle[] = "Glow Dark Frame";
constexpr char kHotTitle[] = "Hot Dark Frame";
constexpr char kMatchedTitle[] = "Matched Dark Frame";
constexpr char kMatchedBiasTitle[] = "Matched Dark Frame + Bias";
constexpr char kCorrectedTitle[] = "Corrected Image";
