#include "tools/tenvora_match/tool_main.h"

#include <fitsio.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <new>

#include "tools/tenvora_match/batch_run.h"
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

// The outputs written unless --outputs says: with LIGHT arguments the
// corrected light (with --subtract) or the matched dark, else all.
RunSettings settings_of(const Options& o) {
  RunSettings s;
  s.dark = o.dark;
  s.bias = o.bias;
  s.bias_factor = o.bias_factor;
  s.subtract = o.subtract;
  s.preview = o.preview;
  s.overwrite = o.overwrite;
  s.out_dir = o.out_dir;
  s.max_pixels = o.max_pixels;
  if (!o.outputs.empty())
    s.kinds = o.outputs;
  else if (!o.lights.empty())
    s.kinds = {o.subtract ? "corrected" : "matched"};
  else if (o.subtract)
    s.kinds.push_back("corrected");
  return s;
}

// The one-light run, and its summary.
Summary single_run(const RunSettings& s, const std::string& light, LightOutcome* outcome) {
  const std::vector<FileId> inputs = file_ids({light, s.dark, s.bias});
  *outcome = match_files(s, {light, ""}, inputs);
  Summary summary;
  summary.inputs.push_back({"dark", s.dark, outcome->light.width, outcome->light.height});
  if (!s.bias.empty())
    summary.inputs.push_back({"bias", s.bias, outcome->light.width, outcome->light.height});
  summary.use_bias = !s.bias.empty();
  summary.bias_factor = s.bias_factor;
  summary.subtract = s.subtract;
  summary.lights.push_back(outcome->summary);
  return summary;
}

Summary run_demo(const Options& o) {
  make_directories(o.demo_dir);
  Options match = o;
  match.dark = join_path(o.demo_dir, "dark.fits");
  match.bias = join_path(o.demo_dir, "bias.fits");
  match.out_dir = o.demo_dir;
  match.overwrite = true;  // checked here, with the inputs
  RunSettings s = settings_of(match);
  const char* inputs[] = {"light.fits", "dark.fits", "bias.fits"};
  std::vector<std::string> names = output_names(s, "");
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

  LightOutcome outcome;
  Summary summary = single_run(s, join_path(o.demo_dir, "light.fits"), &outcome);
  report.before = clean_region_noise(outcome.light, report.params);
  for (const OutputImage& image : outcome.images)
    if (image.title == "Corrected Image")
      report.after = clean_region_noise(image.frame, report.params);
  summary.demo = report;
  return summary;
}

Summary run(const Options& o, std::ostream& err, bool err_is_terminal) {
  if (!o.demo_dir.empty()) return run_demo(o);
  const RunSettings s = settings_of(o);
  if (!o.lights.empty()) return run_batch(o, s, err, err_is_terminal);
  LightOutcome outcome;
  return single_run(s, o.light, &outcome);
}

}  // namespace

int tool_main(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
              bool err_is_terminal) {
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
    const Summary summary = run(o, err, err_is_terminal);
    if (o.json)
      print_json(out, summary);
    else
      print_text(out, summary);
    return summary.failures.empty() ? 0 : 2;
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
