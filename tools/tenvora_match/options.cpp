#include "tools/tenvora_match/options.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <limits>
#include <set>

#include "diagnostics/diagnostics.h"
#include "fits/fits_io.h"
#include "fits/tool_error.h"
#include "tools/command_line/command_line.h"
#include "tools/tenvora_match/session_report.h"

namespace {

// Whole numbers 0 to 999, as the dialog's three-digit field takes them.
int32_t parse_factor(const std::string& text) {
  bool digits = !text.empty() && text.size() <= 3;
  for (char c : text) digits = digits && c >= '0' && c <= '9';
  if (!digits)
    throw ToolError("--bias-factor", "'" + text + "' is not a whole number from 0 to 999");
  return std::stoi(text);
}

// A whole number of pixels from 1 up to what one plane can hold.
long long parse_max_pixels(const std::string& text) {
  bool digits = !text.empty() && text.size() <= 10;
  for (char c : text) digits = digits && c >= '0' && c <= '9';
  const long long value = digits ? std::stoll(text) : 0;
  if (value < 1 || value > std::numeric_limits<int32_t>::max())
    throw ToolError("--max-pixels", "'" + text + "' is not a whole number from 1 to " +
                                        std::to_string(std::numeric_limits<int32_t>::max()));
  return value;
}

// Lights matched at once: 1 to 256.
int parse_jobs(const std::string& text) {
  bool digits = !text.empty() && text.size() <= 3;
  for (char c : text) digits = digits && c >= '0' && c <= '9';
  const int value = digits ? std::stoi(text) : 0;
  if (value < 1 || value > 256)
    throw ToolError("--jobs", "'" + text + "' is not a whole number from 1 to 256");
  return value;
}

// A comma-separated choice of output kinds, each once.
std::vector<std::string> parse_outputs(const std::string& text, bool subtract) {
  const std::set<std::string> kinds = {"glow", "hot", "matched", "corrected"};
  std::vector<std::string> chosen;
  for (size_t start = 0; start <= text.size();) {
    const size_t comma = std::min(text.find(',', start), text.size());
    const std::string kind = text.substr(start, comma - start);
    if (!kinds.count(kind))
      throw ToolError("--outputs", "'" + kind + "' is not one of glow, hot, matched, corrected");
    if (std::find(chosen.begin(), chosen.end(), kind) != chosen.end())
      throw ToolError("--outputs", "'" + kind + "' given twice");
    if (kind == "corrected" && !subtract)
      throw ToolError("--outputs", "'corrected' needs --subtract");
    chosen.push_back(kind);
    start = comma + 1;
  }
  return chosen;
}

bool ends_with_png(const std::string& path) {
  if (path.size() < 4) return false;
  std::string end = path.substr(path.size() - 4);
  for (char& c : end) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return end == ".png";
}

// The checks after a match, with the thresholds they use.
std::string warnings_help() {
  namespace limits = diagnostic_limits;
  char text[4500];
  std::snprintf(
      text, sizeof text,
      R"(Warnings: after each match the tool checks whether its scales can be
trusted. A light's warning codes end its summary line and go into its
outputs (TVWARN) and the report; the summary ends with each code once, with
its text for the first light that raised it (--json: every warning's code,
message and the numbers it was decided on). With -v each light's warnings
come instead on standard error as the light is done, one line each:
"tenvora-match: <light>: warning <code>: <message>". The outputs are still
written; --strict makes the exit status 3.
Noise is %g x the median absolute
deviation, at least %g, of the %dx%d square around a 5x5 block less the
block. Under --method fit:
  fit-few-pixels       fewer than %lld pixels left for the fit (none at all:
                       the plug-in's ratios are used)
  fit-uncertain-scale  a fitted scale whose standard error exceeds %g %% of it
  fit-scale-out-of-range a fitted scale below 0 or above %g
  fit-heavy-clipping   the clipping left out more than %g %% of the pixels
together with saturated-hot-pixel, dark-holds-bias, scale-off-exposure and
many-negative-pixels;
the other codes judge the plug-in's levels and come only with --method
plugin:
  corner-source        the glow corner's block stands above its surroundings
                       by more than %g noise units (a star or other source in
                       the light, less the scaled glow)
  saturated-hot-pixel  a hot pixel of the light or dark at %g %% or more of the
                       largest value its file can hold (BITPIX, BZERO,
                       BSCALE), or at the frame's own maximum when %lld or more
                       pixels share it (floating-point files)
  empty-hot-cell       a cell of the 3x3 hot-pixel grid without a pixel above
                       0 in the dark's hot component
  weak-dark-glow       the dark's glow level within %g noise units of 0
  dark-holds-bias      without --bias, a dark whose offset would shift the
                       corrected light by more than %g noise units of the light
  ratio-out-of-range   a ratio above %g, negative, NaN or infinite
  scale-off-exposure   a scale more than %g times above or below the exposure
                       ratio, the light's EXPTIME (or EXPOSURE) over the dark's
  many-negative-pixels more than %g %% of the corrected light below 0

)",
      limits::mad_to_sigma, limits::noise_floor, limits::region_side, limits::region_side,
      static_cast<long long>(limits::fit_minimum_pixels), 100 * limits::fit_relative_error,
      limits::fit_scale_maximum, 100 * limits::fit_clipped_fraction, limits::corner_source_sigmas,
      100 * limits::saturation_fraction, static_cast<long long>(limits::shared_maximum_pixels),
      limits::weak_glow_sigmas, limits::bias_shift_sigmas, limits::ratio_maximum,
      limits::exposure_factor, 100 * limits::negative_fraction);
  return text;
}

// The table of our keywords, a line each.
std::string keywords_help() {
  std::string text;
  for (const OutputKeyword* keyword : kOutputKeywords) {
    std::string name = keyword->name;
    for (const std::string& line : word_lines(keyword->meaning, 66)) {
      text += "  " + name + std::string(10 - name.size(), ' ') + line + "\n";
      name.clear();
    }
  }
  return text;
}

}  // namespace

Options parse_options(const std::vector<std::string>& args) {
  Options o;
  std::string factor, max_pixels, outputs, jobs, method, out_name;
  const CommandLine line = {{{"--light", &o.light},
                             {"--dark", &o.dark},
                             {"--bias", &o.bias},
                             {"--out-dir", &o.out_dir},
                             {"--demo", &o.demo_dir},
                             {"--bias-factor", &factor},
                             {"--max-pixels", &max_pixels},
                             {"--outputs", &outputs},
                             {"--report", &o.report},
                             {"--plot", &o.plot},
                             {"--jobs", &jobs},
                             {"--method", &method},
                             {"--out-name", &out_name, true}},
                            {{"--subtract", &o.subtract},
                             {"--json", &o.json},
                             {"--preview", &o.preview},
                             {"--overwrite", &o.overwrite},
                             {"--compress", &o.compress},
                             {"--strict", &o.strict},
                             {"--skip-existing", &o.skip_existing},
                             {"-v,--verbose", &o.verbose},
                             {"--help", &o.help},
                             {"--version", &o.version}},
                            "LIGHT",
                            &o.lights};
  const std::set<std::string> given = parse_command_line(line, args);
  auto seen = [&given](const char* name) { return given.count(name) > 0; };

  if (o.help || o.version) return o;
  if (seen("--out-name")) {
    if (out_name.find('/') != std::string::npos)
      throw ToolError("--out-name", "'" + out_name + "' names files in --out-dir: no '/'");
    o.out_name = out_name;
  }
  if (seen("--bias-factor")) o.bias_factor = parse_factor(factor);
  if (seen("--max-pixels")) o.max_pixels = parse_max_pixels(max_pixels);
  if (seen("--jobs")) o.jobs = parse_jobs(jobs);
  if (seen("--method")) {
    if (method != "fit" && method != "plugin")
      throw ToolError("--method", "'" + method + "' is not fit or plugin");
    o.method = method;
  }
  if (seen("--outputs")) o.outputs = parse_outputs(outputs, o.subtract);
  if (seen("--report")) report_format(o.report);
  if (seen("--plot") && !ends_with_png(o.plot))
    throw ToolError(o.plot, "--plot writes a PNG: the name must end in .png");

  if (!o.demo_dir.empty()) {
    for (const char* name : {"--light", "--dark", "--bias", "--bias-factor", "--out-dir",
                             "--subtract", "--outputs", "--jobs", "--out-name", "--skip-existing"})
      if (seen(name)) throw ToolError(name, "does not go with --demo, which makes its own frames");
    if (!o.lights.empty()) throw ToolError(o.lights.front(), "does not go with --demo");
    o.subtract = true;
    if (o.report.empty()) o.report = o.demo_dir + "/night.csv";
    if (o.plot.empty()) o.plot = o.demo_dir + "/night_ratios.png";
    return o;
  }
  if (!o.light.empty() && !o.lights.empty())
    throw ToolError("--light", "takes the one light; give several lights without --light");
  if (o.light.empty() && o.lights.empty()) throw ToolError("--light", "missing (see --help)");
  for (const char* name : {"--dark", "--out-dir"})
    if (!seen(name)) throw ToolError(name, "missing (see --help)");
  if (seen("--bias-factor") && o.bias.empty()) throw ToolError("--bias-factor", "needs --bias");
  if (seen("--out-name") && o.light.empty())
    throw ToolError("--out-name",
                    "goes with --light; LIGHT arguments name outputs after each light");
  if (seen("--jobs") && o.lights.empty())
    throw ToolError("--jobs", "goes with LIGHT arguments; --light is the one light");
  return o;
}

std::string help_text() {
  std::string text = R"(Usage:
  tenvora-match --light L.fits --dark D.fits [--bias B.fits [--bias-factor N]]
                [--subtract] --out-dir DIR [--out-name PREFIX] [--outputs LIST]
                [--json] [-v] [--preview] [--overwrite] [--skip-existing]
                [--strict] [--compress] [--max-pixels N] [--report FILE]
                [--plot FILE] [--method fit|plugin]
  tenvora-match --dark D.fits [--bias B.fits [--bias-factor N]] [--subtract]
                --out-dir DIR [--outputs LIST] [--json] [-v] [--preview]
                [--overwrite] [--skip-existing] [--strict] [--compress]
                [--max-pixels N] [--jobs N] [--report FILE] [--plot FILE]
                [--method fit|plugin] LIGHT...
  tenvora-match --demo DIR [--json] [--preview] [--overwrite] [--report FILE]
                [--plot FILE]
  tenvora-match --help | --version

Builds a dark frame matched to a light frame, with the Tenvora plug-in's own
pipeline.

The dark is split into a glow component (the dark with every hot pixel
replaced by the median of its 3x3 neighbourhood) and a hot-pixel component
(the rest). Each is scaled by its own factor and the two are added up: the
matched dark. With --method fit (the default) the two scales are fitted over
the whole frame: the light less the bias (N times) is modelled as glow scale
x glow + hot scale x hot + sky, the sky a constant plus a plane in x and y
(the light's own, never subtracted), by least squares with iterative
clipping at 3 robust sigma, so stars, nebulae and cosmic rays drop out; the
fit reads every hot pixel above 5 robust sigma of the dark's noise and at
least a million others at a fixed stride, leaving out pixels saturated or
not finite in the light or the dark. With --method plugin the scales are
the plug-in's ratios of light level to dark level, and the images are those
the plug-in makes inside the image-processing host, bit for bit.

Options:
  LIGHT               light frames to calibrate, each matched on its own: a
                      FITS file, a directory (its .fits, .fit and .fts files,
                      also .gz or .fz, in natural order: m42_2 before m42_10;
                      hidden files, the dark, the bias and files this tool
                      wrote left out) or @FILE, a list of such paths one a
                      line (# comments)
  --light FILE        the one light frame to calibrate
  --dark FILE         the dark frame to match to it
  --bias FILE         a bias frame: it is taken from the dark before the split,
                      taken N times from the light for the measurements, and
                      added N times to the matched dark
  --bias-factor N     N, a whole number from 0 to 999 (default 1)
  --subtract          also write the light minus the matched dark
  --out-dir DIR       directory for the outputs, made when missing
  --out-name PREFIX   (--light only) name the outputs PREFIXglow.fits and so
                      on instead of after the light; --out-name '' gives
                      glow.fits, hot.fits, matched.fits, corrected.fits
  --skip-existing     leave a light whose outputs are all there and whose
                      headers say they were made from the same dark, bias,
                      bias factor and method (a rerun after an interruption
                      finishes the night); the summary and the report list
                      it too, read back from the headers
  --outputs LIST      the outputs to write, of glow,hot,matched,corrected
                      (default: all with --light; with LIGHT arguments the
                      corrected light with --subtract, else the matched dark)
  --json              print the summary as JSON instead of text
  --preview           write an auto-stretched 8-bit PNG beside each output
  --overwrite         replace outputs that exist already (otherwise refused)
  --strict            exit status 3 when any light warned; the outputs are
                      still written (a light that failed gives 2 all the same)
  --compress          write the outputs tile-compressed, lossless (GZIP_2,
                      floats not quantised), named .fits.fz
  --jobs N            match N lights at once, 1 to 256 (LIGHT arguments only);
                      the reading and writing of one light overlap the work
                      on another. Default: one per core, fewer where the run
                      would take more than half of the machine's memory (a
                      job holds the light and its output planes, up to 5
                      planes of 4 bytes a pixel; the dark, its glow and
                      hot planes and the bias are held once)
  --max-pixels N      refuse input frames of more than N pixels (default
                      200000000, room for 150-megapixel sensors)
  --report FILE       write one row per light matched to FILE.csv or
                      FILE.json: the light's DATE-OBS, EXPTIME and CCD-TEMP,
                      both levels and ratios, the darkest block, the robust
                      noise (1.4826 x MAD) of the light and of the corrected
                      light in the 64x64 glow corner, the share of negative
                      pixels in the corrected light, and the warning codes
  --plot FILE         write both ratios over the session (by DATE-OBS, else
                      in order) as a 1200x600 PNG; the name must end in .png
  --demo DIR          make a synthetic night in DIR (created if missing): a
                      dark, a bias and six 600x450 lights whose glow and
                      hot-pixel scales drift, with DATE-OBS cards; match them
                      with bias factor 1 and --subtract, write the report
                      DIR/night.csv and the plot DIR/night_ratios.png (unless
                      --report or --plot name others), and print the known
                      scales beside the measured ratios
  --method M          fit (default) or plugin: how the two scales are found
  -v, --verbose       also print the plug-in's levels and what the dark did:
                      the noise and hot-pixel residual of the corrected light
                      (on the fit's pixels) under the fit, the plug-in's
                      levels and, when light and dark carry EXPTIME, the
                      exposure ratio; the report and --json always hold them;
                      and each light's warnings on standard error as it is
                      done, instead of once at the end of the summary
  --help, --version   this text; the version

Input: regular FITS files, plain or gzip-compressed, the primary image or
else the first image extension (tile-compressed ones too, .fz, through
CFITSIO's decompression), 2-D, BITPIX 8, 16, 32, -32 or -64, read as 32-bit
floats (quantised compressed floats as CFITSIO restores them): -32 exactly as stored (infinities, -0.0, subnormals and NaN
payloads kept), -64 rounded to the nearest float, integers with BSCALE and
BZERO applied (so unsigned 16-bit camera files come out right) and BLANK
pixels as NaN. An image with a third axis of length 1 is taken as 2-D; cubes
of more planes are refused. All frames must have the same size.

Outputs, in DIR, named after each light: m42_0001.fits gives
m42_0001_glow.fits "Glow Dark Frame", m42_0001_hot.fits "Hot Dark Frame",
m42_0001_matched.fits "Matched Dark Frame" (with a bias "Matched Dark Frame
+ Bias") and, with --subtract, m42_0001_corrected.fits "Corrected Image".
Two lights whose outputs would take one name are refused before any work.
BITPIX -32. Each output first holds the light's own header cards (EXPTIME,
DATE-OBS, OBJECT, a camera's BIAS, HIERARCH cards, HISTORY and the rest) but
SIMPLE, XTENSION, BITPIX, NAXISn, EXTEND, PCOUNT, GCOUNT, BZERO, BSCALE,
BLANK, CHECKSUM, DATASUM, DATAMIN, DATAMAX and the keywords below; then the
keywords below and HISTORY lines naming the light, the dark, the bias, the
factor, both ratios and the exposure ratio.
@KEYWORDS@
The plug-in's levels are measured under either method; the outputs were
made with GLOWSCL and HOTSCL, fitted under --method fit (with TVMETHOD fit
and the fit's keywords), the plug-in's ratios under --method plugin.

Rows: row 0 of the planes, as the plug-in sees them, is the first row stored
in the file (FITS row 1, shown at the bottom by FITS viewers). The glow
level is read near the first columns of the last rows: columns 3-7 (0-based)
of rows NAXIS2-13 to NAXIS2-9, the top left corner in a FITS viewer. The
PNG previews show the frames as FITS viewers do, last row at the top.

Summary, on standard output: one line a light, its name relative to the
lights' common folder, its glow and hot-pixel scales and its warning codes;
then "12 of 12 lights matched, 2 with warnings" and the lights that failed
(--json: the full levels, outputs and warnings instead). Progress goes to
standard error: a bar with the count, the rate and the time left on a
terminal, else one line per light with its two scales. A light that cannot
be read or matched gets its error line and is skipped, leaving no output;
the others go on, the summary lists every failed light, and the exit status
is 2.

@WARNINGS@
Errors: one line "tenvora-match: <file>: <problem>" on standard error and
exit status 2 for bad input (missing, unreadable or non-FITS file, a FIFO or
device, no 2-D image, a cube, more pixels than --max-pixels, a file shorter
than its header declares, BSCALE 0, sizes that differ, a dark or bias
normalised to 0..1 (a float file, every value within -0.5 to 1.5) against an
ADU light (an integer file, or mostly above 2) or the other way round, a bias
factor outside 0-999, an output directory that cannot be made or is not
writable, existing outputs without --overwrite, an output that is one of the
input files); nothing is
written then: the files are made under temporary names in DIR after the
inputs are read and put in place only when all are written, never replacing
a file without --overwrite. A preview that cannot be written is left out
and the run goes on. Exit status 1 for a fault of the tool itself, 3 with
--strict when a light warned, 0 on success.
)";
  const std::string marker = "@WARNINGS@\n", keywords = "@KEYWORDS@\n";
  text.replace(text.find(marker), marker.size(), warnings_help());
  return text.replace(text.find(keywords), keywords.size(), keywords_help());
}
