// The header keywords our outputs write, in one table: the header writing,
// the help, the tests and the Python package take names and comments from
// here. None is a name that cameras or calibration programs use for
// something else (a camera's BIAS = 100 is its pedestal, OBJECT the target);
// CREATOR, IMAGETYP and CALSTAT mean what they mean everywhere. Header-only,
// so the Python module shares it without the FITS library.
#pragma once

#include <cstddef>
#include <cstring>

struct OutputKeyword {
  const char* name;     // at most 8 characters
  const char* comment;  // of the card
  const char* meaning;  // for the help and the README
  const char* was;      // the name earlier versions wrote, "" for none
};

namespace output_keyword {
inline constexpr OutputKeyword creator{"CREATOR", "program that made this file",
                                       "tenvora-match and its version", ""};
inline constexpr OutputKeyword imagetyp{"IMAGETYP", "type of image",
                                        "Light Frame for the corrected light, else Dark Frame", ""};
inline constexpr OutputKeyword title{
    "TVIMAGE", "image title",
    "Glow Dark Frame, Hot Dark Frame, Matched Dark Frame (+ Bias) or Corrected Image",
    "OBJECT, when the light had none"};
inline constexpr OutputKeyword light_file{"LIGHTFIL", "light frame file", "the light's file name",
                                          "LIGHT"};
inline constexpr OutputKeyword dark_file{"DARKFILE", "dark frame file", "the dark's file name",
                                         "DARK"};
inline constexpr OutputKeyword dark_exposure{
    "DARKEXP", "[s] dark exposure time", "the dark's EXPTIME (else EXPOSURE), when it has one", ""};
inline constexpr OutputKeyword bias_file{"BIASFILE", "bias frame file",
                                         "the bias's file name, with --bias", "BIAS"};
inline constexpr OutputKeyword bias_factor{"BIASFACT", "bias multiplication factor",
                                           "the bias factor, with --bias", ""};
inline constexpr OutputKeyword steps{
    "CALSTAT", "calibration steps done: B bias, D dark",
    "on the corrected light: the light's own letters, then B (a bias taken off) and D (the "
    "matched dark taken off)",
    ""};
inline constexpr OutputKeyword glow_light{"GLOWLGT", "glow level of the light",
                                          "the glow level of the light", ""};
inline constexpr OutputKeyword glow_dark{"GLOWDRK", "glow level of the dark's glow component",
                                         "the glow level of the dark's glow component", ""};
inline constexpr OutputKeyword glow_ratio{"GLOWRAT", "glow scale: GLOWLGT / GLOWDRK",
                                          "their ratio, the glow scale", ""};
inline constexpr OutputKeyword hot_light{"HOTLGT", "hot-pixel level of the light",
                                         "the hot-pixel level of the light", ""};
inline constexpr OutputKeyword hot_dark{"HOTDRK", "hot-pixel level of the dark's hot component",
                                        "the hot-pixel level of the dark's hot component", ""};
inline constexpr OutputKeyword hot_ratio{"HOTRAT", "hot-pixel scale: HOTLGT / HOTDRK",
                                         "their ratio, the hot-pixel scale", ""};
inline constexpr OutputKeyword exposure_ratio{
    "EXPRATIO", "light / dark exposure time",
    "the light's exposure time over the dark's, when both are known", ""};
inline constexpr OutputKeyword block_x{"DARKBLKX", "darkest 5x5 block of the light: column",
                                       "anchor of the darkest 5x5 block: column", ""};
inline constexpr OutputKeyword block_y{"DARKBLKY", "darkest 5x5 block: row (0 = FITS row 1)",
                                       "anchor of the darkest 5x5 block: row (0 = FITS row 1)", ""};
inline constexpr OutputKeyword warnings{
    "TVWARN", "warning codes of the checks",
    "the codes of the light's warnings, comma-separated ('' when none)", ""};
// Of the fitted method.
inline constexpr OutputKeyword method{"TVMETHOD", "matching method", "plugin or fit", ""};
inline constexpr OutputKeyword glow_scale{"GLOWSCL", "glow scale the dark was matched with",
                                          "the fitted glow scale", ""};
inline constexpr OutputKeyword glow_scale_error{"GLOWSERR", "standard error of GLOWSCL",
                                                "its standard error", ""};
inline constexpr OutputKeyword hot_scale{"HOTSCL", "hot-pixel scale the dark was matched with",
                                         "the fitted hot-pixel scale", ""};
inline constexpr OutputKeyword hot_scale_error{"HOTSERR", "standard error of HOTSCL",
                                               "its standard error", ""};
inline constexpr OutputKeyword sky_0{"FITSKY0", "fitted sky: constant term",
                                     "the fitted sky plane: constant term", ""};
inline constexpr OutputKeyword sky_x{"FITSKYX", "fitted sky: slope along x per pixel",
                                     "its slope along x, per pixel", ""};
inline constexpr OutputKeyword sky_y{"FITSKYY", "fitted sky: slope along y per pixel",
                                     "its slope along y, per pixel", ""};
inline constexpr OutputKeyword fit_pixels{"FITNPIX", "pixels in the fit", "the pixels the fit used",
                                          ""};
inline constexpr OutputKeyword fit_clipped{"FITNCLIP", "pixels clipped from the fit",
                                           "the pixels clipped from it", ""};
inline constexpr OutputKeyword fit_left_out{"FITNLEFT", "pixels saturated or not finite",
                                            "the pixels left out as saturated or not finite", ""};
inline constexpr OutputKeyword fit_noise{"FITNOISE", "robust noise of the fit's residuals",
                                         "the robust noise of its residuals", ""};
}  // namespace output_keyword

// In the order an output holds them; HISTORY lines follow.
inline constexpr const OutputKeyword* kOutputKeywords[] = {
    &output_keyword::creator,     &output_keyword::imagetyp,
    &output_keyword::title,       &output_keyword::light_file,
    &output_keyword::dark_file,   &output_keyword::dark_exposure,
    &output_keyword::bias_file,   &output_keyword::bias_factor,
    &output_keyword::steps,       &output_keyword::glow_light,
    &output_keyword::glow_dark,   &output_keyword::glow_ratio,
    &output_keyword::hot_light,   &output_keyword::hot_dark,
    &output_keyword::hot_ratio,   &output_keyword::exposure_ratio,
    &output_keyword::block_x,     &output_keyword::block_y,
    &output_keyword::warnings,    &output_keyword::method,
    &output_keyword::glow_scale,  &output_keyword::glow_scale_error,
    &output_keyword::hot_scale,   &output_keyword::hot_scale_error,
    &output_keyword::sky_0,       &output_keyword::sky_x,
    &output_keyword::sky_y,       &output_keyword::fit_pixels,
    &output_keyword::fit_clipped, &output_keyword::fit_left_out,
    &output_keyword::fit_noise};

// The entry of that name (exactly as written), or null.
inline const OutputKeyword* find_output_keyword(const char* name) {
  for (const OutputKeyword* keyword : kOutputKeywords)
    if (std::strcmp(keyword->name, name) == 0) return keyword;
  return nullptr;
}
