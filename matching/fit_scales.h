// The fitted match: the light as measured (less the bias, bias_factor
// times) modelled as glow_scale x glow + hot_scale x hot + sky, the sky a
// constant plus a plane in x and y, by least squares over the whole frame
// with iterative clipping, so that stars, nebulae, cosmic rays and the
// light's own defects drop out. The sky is the light's and is never
// subtracted: without a bias it also holds (1 - glow_scale) x the dark's
// pedestal, which the glow plane keeps.
//
// Like the plug-in's stages, these take the geometry and the planes and keep
// nothing; the pixels read depend only on the dark, so a front end picks them
// once per dark and fits every light on them. Summation runs in one fixed
// order, so a light gives the same scales on any thread.
#pragma once

#include <cstdint>
#include <vector>

#include "kernels/frame_types.h"

// Every threshold of the fit, in one place.
namespace fit_limits {
// Every hot-plane pixel more than this many robust sigmas of the dark's own
// noise (1.4826 x MAD of the steps from pixel to pixel / sqrt 2, at least
// noise_floor) above 0 is read ...
constexpr double hot_sigmas = 5.0;
constexpr double mad_to_sigma = 1.4826;
constexpr double noise_floor = 0.5;
// ... and of the rest every stride-th, the stride chosen so that at least
// this many are read (all pixels of smaller frames).
constexpr int64_t stride_pixels = 1000000;
// Least-squares rounds, each after the first leaving out the pixels whose
// residual lies more than clip_sigmas robust sigmas from the median residual;
// they stop early once the pixels kept no longer change.
constexpr int max_rounds = 6;
constexpr double clip_sigmas = 3.0;
// A round that changes whether a pixel is kept for at most one in this many
// of those used ends the fit.
constexpr int64_t settled_share = 10000;
// The robust sigma of the residuals is taken over at most this many of them,
// at a fixed stride.
constexpr int64_t sigma_pixels = 50000;
// The hot-pixel residual of a correction: over this share of the frame's
// pixels, the brightest of the hot plane that the fit reads.
constexpr double bright_hot_share = 0.005;
}  // namespace fit_limits

// The pixels the fit reads, chosen from the dark alone: index ascending,
// with the unscaled glow and hot components there and the pixel's column and
// row centred on the frame and scaled to about -1 to 1. Pixels saturated or
// not finite in the dark, and not finite in either component, are left out.
struct FitSample {
  FrameGeometry frame{};
  std::vector<uint32_t> index;
  std::vector<float> glow, hot, x, y;
  // The fit's regressors: the hot plane as the fit sees it (signal: its
  // noise entries as 0), and the glow, smoothed over 5 x 5 pixels so that the
  // dark's own noise does not pull its scale down, and that signal, both
  // centred and scaled.
  std::vector<float> signal, g, h;
  // Positions in index of the pixels taken at the stride and not for the
  // hot plane (the background), and of the hot plane's brightest pixels, for
  // what a correction leaves.
  std::vector<uint32_t> background, bright_hot;
  int64_t hot_pixels = 0;  // pixels taken for the hot plane
  // Hot-plane values at or below this are the dark's noise, which the split
  // leaves in the hot plane where a pixel stands a little above its
  // neighbours; the fit takes them as 0.
  double hot_threshold = 0;
  // Mean and spread of each component over the sample, which the fit
  // centres and scales them by, and the centre and half size of the frame.
  double glow_mean = 0, glow_spread = 1, hot_mean = 0, hot_spread = 1;
  double x_centre = 0, x_half = 1, y_centre = 0, y_half = 1;
};

// dark_saturation: from this value a dark pixel counts as saturated (NaN:
// none does). The planes are the dark as read and its split.
FitSample fit_sample(FrameGeometry frame, const float* dark, const float* glow, const float* hot,
                     double dark_saturation);

// The light as measured (less the bias, null: none, bias_factor times, each
// step rounded, as light_to_measure takes it) at the sample's pixels; NaN
// where the light as read is not finite or at or above light_saturation
// (NaN: no pixel counts as saturated).
std::vector<float> sample_light(const float* light, const float* bias, int32_t bias_factor,
                                const FitSample& sample, double light_saturation);

struct ScaleFit {
  double glow_scale = 0, hot_scale = 0;
  // Standard errors; NaN when not determined. Least squares gives the
  // scales that leave the least noise: where the glow plane holds much of
  // the dark's own noise, the glow scale comes out below the physical ratio
  // of glow in light and dark.
  double glow_error = 0, hot_error = 0;
  // The sky: its level at the frame's centre and its slopes, in ADU per
  // pixel along the columns (x) and the rows (y).
  double sky_level = 0, sky_x = 0, sky_y = 0;
  int64_t sample = 0;         // pixels of the sample
  int64_t left_out = 0;       // of them saturated or not finite in the light
  int64_t clipped = 0;        // of the rest, left out by the clipping
  int64_t used = 0;           // in the last round's fit
  double residual_noise = 0;  // robust sigma of the last round's residuals
  int rounds = 0;
  // False when the light left fewer pixels than unknowns; then both scales
  // are 0 and the errors NaN. A component that does not vary over the pixels
  // used (a glow that is flat, no hot pixels) gets the scale 0 and the
  // error NaN.
  bool solved = false;
};

// The fit on the light's values at the sample (sample_light).
ScaleFit fit_scales(const FitSample& sample, const std::vector<float>& light_values);

// What a correction by these scales leaves, measured on the sample: the
// robust noise of the corrected light over the background pixels, and the
// RMS about the background's median over the bright hot pixels.
struct CorrectionQuality {
  double noise = 0, hot_residual = 0;
};

CorrectionQuality correction_quality(const FitSample& sample,
                                     const std::vector<float>& light_values, double glow_scale,
                                     double hot_scale);
