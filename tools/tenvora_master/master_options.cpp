#include "tools/tenvora_master/master_options.h"

#include <cmath>
#include <cstdlib>
#include <limits>

#include "fits/tool_error.h"
#include "tools/command_line/command_line.h"

namespace {

// A whole number from low to high, or ToolError naming the option.
long long parse_whole(const std::string& option, const std::string& text, long long low,
                      long long high) {
  bool digits = !text.empty() && text.size() <= 10;
  for (char c : text) digits = digits && c >= '0' && c <= '9';
  const long long value = digits ? std::stoll(text) : low - 1;
  if (value < low || value > high)
    throw ToolError(option, "'" + text + "' is not a whole number from " + std::to_string(low) +
                                " to " + std::to_string(high));
  return value;
}

// kappa from 1 (below, clipping could drop every value) to 100.
double parse_kappa(const std::string& text) {
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || !(value >= 1.0 && value <= 100.0))
    throw ToolError("--kappa", "'" + text + "' is not a number from 1 to 100");
  return value;
}

}  // namespace

MasterOptions parse_master_options(const std::vector<std::string>& args) {
  MasterOptions o;
  std::string method, kappa, jobs, strip_rows, max_pixels;
  const CommandLine line = {{{"--out", &o.out},
                             {"--kind", &o.kind},
                             {"--bias", &o.bias},
                             {"--method", &method},
                             {"--kappa", &kappa},
                             {"--jobs", &jobs},
                             {"--strip-rows", &strip_rows},
                             {"--max-pixels", &max_pixels}},
                            {{"--json", &o.json},
                             {"--overwrite", &o.overwrite},
                             {"--refuse-mismatch", &o.refuse_mismatch},
                             {"--help", &o.help},
                             {"--version", &o.version}},
                            "FRAME",
                            &o.frames};
  const std::set<std::string> given = parse_command_line(line, args);
  auto seen = [&given](const char* name) { return given.count(name) > 0; };
  if (o.help || o.version) return o;

  if (!seen("--out")) throw ToolError("--out", "missing (see --help)");
  if (o.frames.empty()) throw ToolError("FRAME", "no frames given (see --help)");
  if (seen("--kind") && o.kind != "bias" && o.kind != "dark")
    throw ToolError("--kind", "'" + o.kind + "' is not one of bias, dark");
  if (seen("--method") && !method_of(method, &o.rule.method))
    throw ToolError("--method", "'" + method + "' is not one of sigma-clip, median, mean");
  if (seen("--kappa")) {
    if (o.rule.method != CombineMethod::sigma_clip)
      throw ToolError("--kappa", "goes with --method sigma-clip only");
    o.rule.kappa = parse_kappa(kappa);
  }
  if (seen("--jobs")) o.jobs = static_cast<int>(parse_whole("--jobs", jobs, 1, 256));
  if (seen("--strip-rows"))
    o.strip_rows = static_cast<int32_t>(
        parse_whole("--strip-rows", strip_rows, 1, std::numeric_limits<int32_t>::max()));
  if (seen("--max-pixels"))
    o.max_pixels = parse_whole("--max-pixels", max_pixels, 1, std::numeric_limits<int32_t>::max());
  return o;
}

std::string master_help_text() {
  return R"(Usage:
  tenvora-master --out FILE [--kind bias|dark] [--bias MASTER_BIAS]
                 [--method sigma-clip|median|mean] [--kappa K] [--jobs N]
                 [--json] [--overwrite] [--refuse-mismatch] [--strip-rows N]
                 [--max-pixels N] FRAME...
  tenvora-master --help | --version

Combines raw bias or dark frames into a master bias or master dark, reading
every frame a strip of rows at a time: the memory it takes is the master's
plane and, per job, one strip of every frame.

Per pixel, values that are not finite are left out, then:
  sigma-clip  (the default) the median m and the robust sigma s = 1.4826 x
              the median absolute deviation of the values kept; the values
              with |v - m| > K x s are dropped, and again, until nothing more
              is dropped or for 5 rounds; nothing is dropped with fewer than
              3 values or s = 0; the master is the mean of the rest
  median      the median (of an even count, the mean of the middle two)
  mean        the mean

Options:
  FRAME               the raw frames: FITS files (also gzip-compressed), a
                      directory (its .fits, .fit and .fts files in any case,
                      also .gz, in natural order, m42_2 before m42_10;
                      hidden files, the bias, the output and files
                      tenvora-master or tenvora-match wrote left out) or
                      @LIST (a file naming one file or directory a line;
                      blank lines and lines starting with # left out)
  --out FILE          the master to write (BITPIX -32); an existing file is
                      replaced only with --overwrite. It appears whole or not
                      at all
  --kind bias|dark    what the master is (IMAGETYP 'Master Bias' or 'Master
                      Dark'); without it, the frames' IMAGETYP says, and they
                      must agree
  --bias MASTER_BIAS  subtracted from every frame first: a master dark of
                      bias-subtracted frames
  --method M          sigma-clip, median or mean (see above)
  --kappa K           the clipping limit in robust sigmas, 1 to 100 (3)
  --jobs N            strips combined at once, 1 to 256 (one per core); the
                      master is the same bit for bit for any N
  --refuse-mismatch   refuse frames whose EXPTIME, SET-TEMP, GAIN or OFFSET
                      differ from the first frame's (else a warning)
  --strip-rows N      rows per strip (about 8 MiB of strips per job); the
                      master is the same bit for bit for any N
  --max-pixels N      refuse frames of more pixels (200000000)
  --json              the summary as JSON
  --overwrite         replace an existing --out file

The frames must have one size and binning (XBINNING, YBINNING), else nothing
is written. The summary lists per frame its median and noise (1.4826 x the
median absolute deviation of a sample of about 65000 of its pixels) and the
values it lost to clipping, and the warnings: a frame whose EXPTIME, SET-TEMP,
GAIN or OFFSET differ from the first frame's (header-differs), whose IMAGETYP
names another kind (other-kind), whose median stands more than one noise
from the frames' median median (level-differs), or whose noise is more than
1.5 times or less than 1/1.5 of the frames' median noise (noise-differs).
Each warning is also one line on standard error.

The master's header: the cards every frame holds alike, then IMAGETYP,
CREATOR, NCOMBINE, COMBMETH, CLIPKAPP and CLIPFRAC (the share of the values
clipped; sigma-clip), EXPTIME, CCD-TEMP (the mean) and CCDTSPRD (its spread,
maximum less minimum), DATE-OBS (the earliest), BIASFILE (with --bias), and
HISTORY lines naming the method and each frame.

Exit status: 0 when the master is written, 2 for bad input or options (one
line on standard error; nothing written), 1 for an internal fault.
)";
}
