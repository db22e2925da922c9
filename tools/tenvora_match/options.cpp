#include "tools/tenvora_match/options.h"

#include <limits>
#include <map>

#include "tools/tenvora_match/tool_error.h"

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

}  // namespace

Options parse_options(const std::vector<std::string>& args) {
  Options o;
  const std::map<std::string, std::string*> texts = {{"--light", &o.light},
                                                     {"--dark", &o.dark},
                                                     {"--bias", &o.bias},
                                                     {"--out-dir", &o.out_dir},
                                                     {"--demo", &o.demo_dir}};
  const std::map<std::string, bool*> flags = {
      {"--subtract", &o.subtract},   {"--json", &o.json}, {"--preview", &o.preview},
      {"--overwrite", &o.overwrite}, {"--help", &o.help}, {"--version", &o.version}};
  std::map<std::string, bool> seen;
  std::string factor, max_pixels;
  for (size_t k = 0; k < args.size(); ++k) {
    std::string name = args[k], value;
    const size_t equals = name.find('=');
    const bool inline_value = name.rfind("--", 0) == 0 && equals != std::string::npos;
    if (inline_value) {
      value = name.substr(equals + 1);
      name = name.substr(0, equals);
    }
    if (seen[name]) throw ToolError(name, "given twice");
    seen[name] = true;
    if (flags.count(name) && !inline_value) {
      *flags.at(name) = true;
      continue;
    }
    if (!texts.count(name) && name != "--bias-factor" && name != "--max-pixels")
      throw ToolError(args[k], "unknown option (see --help)");
    if (!inline_value) {
      if (k + 1 == args.size()) throw ToolError(name, "needs a value");
      value = args[++k];
    }
    if (value.empty()) throw ToolError(name, "needs a value");
    if (name == "--bias-factor")
      factor = value;
    else if (name == "--max-pixels")
      max_pixels = value;
    else
      *texts.at(name) = value;
  }
  if (o.help || o.version) return o;
  if (!factor.empty()) o.bias_factor = parse_factor(factor);
  if (!max_pixels.empty()) o.max_pixels = parse_max_pixels(max_pixels);

  if (!o.demo_dir.empty()) {
    for (const char* name :
         {"--light", "--dark", "--bias", "--bias-factor", "--out-dir", "--subtract"})
      if (seen[name]) throw ToolError(name, "does not go with --demo, which makes its own frames");
    o.subtract = true;
    return o;
  }
  for (const char* name : {"--light", "--dark", "--out-dir"})
    if (!seen[name]) throw ToolError(name, "missing (see --help)");
  if (seen["--bias-factor"] && o.bias.empty()) throw ToolError("--bias-factor", "needs --bias");
  return o;
}

std::string help_text() {
  return R"(Usage:
  tenvora-match --light L.fits --dark D.fits [--bias B.fits [--bias-factor N]]
                [--subtract] --out-dir DIR [--json] [--preview] [--overwrite]
                [--max-pixels N]
  tenvora-match --demo DIR [--json] [--preview] [--overwrite]
  tenvora-match --help | --version

Builds a dark frame matched to a light frame, with the Tenvora plug-in's own
pipeline: the images are those the plug-in makes inside the image-processing
host, bit for bit.

The dark is split into a glow component (the dark with every hot pixel
replaced by the median of its 3x3 neighbourhood) and a hot-pixel component
(the rest). Each is scaled by its own ratio of light level to dark level and
the two are added up: the matched dark.

Options:
  --light FILE        the light frame to calibrate
  --dark FILE         the dark frame to match to it
  --bias FILE         a bias frame: it is taken from the dark before the split,
                      taken N times from the light for the measurements, and
                      added N times to the matched dark
  --bias-factor N     N, a whole number from 0 to 999 (default 1)
  --subtract          also write the light minus the matched dark
  --out-dir DIR       existing directory for the outputs
  --json              print the summary as JSON instead of text
  --preview           write an auto-stretched 8-bit PNG beside each output
  --overwrite         replace outputs that exist already (otherwise refused)
  --max-pixels N      refuse input frames of more than N pixels (default
                      200000000, room for 150-megapixel sensors)
  --demo DIR          make a synthetic light, dark and bias with known glow and
                      hot-pixel scales in DIR (created if missing), match them
                      with bias factor 1 and --subtract, and print the known
                      scales beside the measured ratios, and the light's noise
                      in a star-free corner before and after correction
  --help, --version   this text; the version

Input: regular FITS files, plain or gzip-compressed, the primary image or
else the first image extension, 2-D, BITPIX 8, 16, 32, -32 or -64, read as
32-bit floats: -32 exactly as stored (infinities, -0.0, subnormals and NaN
payloads kept), -64 rounded to the nearest float, integers with BSCALE and
BZERO applied (so unsigned 16-bit camera files come out right) and BLANK
pixels as NaN. An image with a third axis of length 1 is taken as 2-D; cubes
of more planes are refused. All frames must have the same size.

Outputs, in DIR: glow.fits "Glow Dark Frame", hot.fits "Hot Dark Frame",
matched.fits "Matched Dark Frame" (with a bias "Matched Dark Frame + Bias")
and, with --subtract, corrected.fits "Corrected Image"; BITPIX -32, the title
in OBJECT. Header keywords: LIGHT, DARK, BIAS (input file names), BIASFACT
(with a bias), GLOWLGT and GLOWDRK (glow levels of the light and of the
dark's glow component), GLOWRAT (their ratio), HOTLGT, HOTDRK and HOTRAT
(hot-pixel levels and ratio), DARKBLKX and DARKBLKY (anchor of the darkest
5x5 block of the light, whose median the glow levels are taken against).
The tool runs the plug-in's own pipeline, so these are the levels and the
scales the outputs were made with.

Rows: row 0 of the planes, as the plug-in sees them, is the first row stored
in the file (FITS row 1, shown at the bottom by FITS viewers). The glow
level is read near the first columns of the last rows: columns 3-7 (0-based)
of rows NAXIS2-13 to NAXIS2-9, the top left corner in a FITS viewer. The
PNG previews show the frames as FITS viewers do, last row at the top.

Errors: one line "tenvora-match: <file>: <problem>" on standard error and
exit status 2 for bad input (missing, unreadable or non-FITS file, a FIFO or
device, no 2-D image, a cube, more pixels than --max-pixels, a file shorter
than its header declares, BSCALE 0, sizes that differ, a bias factor outside
0-999, an output directory that is missing or not writable, existing outputs
without --overwrite, an output that is one of the input files); nothing is
written then: the files are made under temporary names in DIR after the
inputs are read and put in place only when all are written, never replacing
a file without --overwrite. A preview that cannot be written is left out
and the run goes on. Exit status 1 for a fault of the tool itself, 0 on
success.
)";
}
