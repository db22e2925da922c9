#include "tools/tenvora_match/tool_main.h"

#include <fitsio.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <new>

#include "tools/tenvora_match/fits_io.h"
#include "tools/tenvora_match/match_files.h"
#include "tools/tenvora_match/options.h"
#include "tools/tenvora_match/staged_files.h"
#include "tools/tenvora_match/tool_error.h"

namespace {

// Like mkdir -p.
void make_directories(const std::string& dir) {
  for (size_t end = dir.find('/', 1);; end = dir.find('/', end + 1)) {
    const std::string part = dir.substr(0, end);
    if (mkdir(part.c_str(), 0777) != 0 && errno != EEXIST)
      throw ToolError(part, std::string("cannot be created: ") + std::strerror(errno));
    if (end == std::string::npos) return;
  }
}

Summary run_demo(const Options& o) {
  make_directories(o.demo_dir);
  const char* inputs[] = {"light.fits", "dark.fits", "bias.fits"};
  std::vector<std::string> names = output_names(true, o.preview);
  names.insert(names.end(), std::begin(inputs), std::end(inputs));
  check_targets(o.demo_dir, names, o.overwrite, {});

  DemoReport report{};
  const DemoSet set = make_demo_set(report.params);
  {
    StagedFiles staged(o.demo_dir);
    const Frame* frames[] = {&set.light, &set.dark, &set.bias};
    for (int k = 0; k < 3; ++k)
      staged.write(inputs[k], [&](const std::string& path) {
        write_fits(
            path, *frames[k],
            {text_key("OBJECT", std::string("synthetic ") + inputs[k], "tenvora-match --demo")},
            USHORT_IMG);
      });
    staged.commit(o.overwrite, {});
  }

  MatchJob job;
  job.light = join_path(o.demo_dir, "light.fits");
  job.dark = join_path(o.demo_dir, "dark.fits");
  job.bias = join_path(o.demo_dir, "bias.fits");
  job.bias_factor = 1;
  job.subtract = true;
  job.preview = o.preview;
  job.overwrite = true;  // checked above, with the inputs
  job.out_dir = o.demo_dir;
  MatchOutcome outcome = match_files(job);
  report.before = clean_region_noise(outcome.light, report.params);
  for (const OutputImage& image : outcome.images)
    if (image.title == "Corrected Image")
      report.after = clean_region_noise(image.frame, report.params);
  outcome.summary.demo = report;
  return outcome.summary;
}

Summary run(const Options& o) {
  if (!o.demo_dir.empty()) return run_demo(o);
  MatchJob job;
  job.light = o.light;
  job.dark = o.dark;
  job.bias = o.bias;
  job.bias_factor = o.bias_factor;
  job.subtract = o.subtract;
  job.preview = o.preview;
  job.overwrite = o.overwrite;
  job.out_dir = o.out_dir;
  job.max_pixels = o.max_pixels;
  return match_files(job).summary;
}

}  // namespace

int tool_main(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  try {
    const Options o = parse_options(args);
    if (o.help) {
      out << help_text();
      return 0;
    }
    if (o.version) {
      out << "tenvora-match " TENVORA_VERSION "\n";
      return 0;
    }
    const Summary summary = run(o);
    if (o.json)
      print_json(out, summary);
    else
      print_text(out, summary);
    return 0;
  } catch (const ToolError& e) {
    err << "tenvora-match: " << e.what() << "\n";
    return 2;
  } catch (const InternalError& e) {
    err << "tenvora-match: internal error: " << e.what() << "\n";
    return 1;
  } catch (const std::bad_alloc&) {
    err << "tenvora-match: out of memory\n";
    return 1;
  }
}
