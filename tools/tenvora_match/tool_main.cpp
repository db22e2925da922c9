#include "tools/tenvora_match/tool_main.h"

#include <fitsio.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <new>

#include "fits/fits_io.h"
#include "fits/staged_files.h"
#include "fits/tool_error.h"
#include "tools/tenvora_match/batch_run.h"
#include "tools/tenvora_match/earlier_outputs.h"
#include "tools/tenvora_match/light_list.h"
#include "tools/tenvora_match/match_files.h"
#include "tools/tenvora_match/options.h"
#include "tools/tenvora_match/session_plot.h"
#include "tools/tenvora_match/session_report.h"

namespace {

// Like mkdir -p; an error names the option that gave the directory.
void make_directories(const std::string& option, const std::string& dir) {
  for (size_t end = dir.find('/', 1);; end = dir.find('/', end + 1)) {
    const std::string part = dir.substr(0, end);
    if (mkdir(part.c_str(), 0777) != 0 && errno != EEXIST)
      throw ToolError(option + " " + dir,
                      "cannot be created: " + part + ": " + std::strerror(errno));
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
  s.skip_existing = o.skip_existing;
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

// The one-light run, and its summary; with --skip-existing the light may be
// left as an earlier run matched it.
Summary single_run(const RunSettings& s, const LightJob& job, LightOutcome* outcome) {
  const std::vector<FileId> inputs = file_ids({job.path, s.dark, s.bias});
  std::optional<LightSummary> earlier;
  if (s.skip_existing) earlier = earlier_outputs(s, job);
  if (earlier)
    outcome->summary = std::move(*earlier);
  else
    *outcome = match_files(s, job, inputs);
  const InputInfo& size = outcome->summary.light;
  Summary summary;
  summary.inputs.push_back({"dark", s.dark, size.width, size.height});
  if (!s.bias.empty()) summary.inputs.push_back({"bias", s.bias, size.width, size.height});
  summary.use_bias = !s.bias.empty();
  summary.bias_factor = s.bias_factor;
  summary.subtract = s.subtract;
  summary.lights.push_back(outcome->summary);
  return summary;
}

// The demo's night: one dark and bias, lights whose scales drift, matched
// as a batch with --subtract into the demo directory.
Summary run_demo(const Options& o, std::ostream& err, bool err_is_terminal) {
  const std::vector<NightLight> night = demo_night();
  Options match = o;
  match.dark = join_path(o.demo_dir, "dark.fits");
  match.bias = join_path(o.demo_dir, "bias.fits");
  match.out_dir = o.demo_dir;
  match.overwrite = true;  // checked here, with the inputs
  std::vector<std::string> names = {"dark.fits", "bias.fits"};
  for (const NightLight& light : night) {
    match.lights.push_back(join_path(o.demo_dir, light.name));
    names.push_back(light.name);
  }
  const RunSettings s = settings_of(match);
  for (const LightJob& job : light_jobs(match.lights)) {
    const std::vector<std::string> outputs = output_names(s, job.prefix);
    names.insert(names.end(), outputs.begin(), outputs.end());
  }
  check_targets(o.demo_dir, names, o.overwrite, {});

  DemoReport report{{}, o.report, o.plot};
  {
    StagedFiles staged(o.demo_dir);
    const DemoSet first = make_demo_set(night.front().params);
    const auto write = [&](const std::string& name, const Frame& frame, std::vector<FitsKey> keys) {
      keys.insert(keys.begin(), text_key("OBJECT", "synthetic " + name, "tenvora-match --demo"));
      staged.write(name,
                   [&](const std::string& path) { write_fits(path, frame, keys, USHORT_IMG); });
    };
    write("dark.fits", first.dark, {});
    write("bias.fits", first.bias, {});
    for (const NightLight& light : night) {
      write(light.name, make_demo_set(light.params).light,
            {text_key("DATE-OBS", light.date_obs, "start of the exposure (UTC)"),
             double_key("EXPTIME", light.exptime, "exposure time (s)"),
             double_key("CCD-TEMP", light.ccd_temp, "sensor temperature (C)")});
      report.lights.push_back(
          {join_path(o.demo_dir, light.name), light.params.glow_scale, light.params.hot_scale});
    }
    staged.commit(o.overwrite, {});
  }
  Summary summary = run_batch(match, s, err, err_is_terminal);
  summary.demo = report;
  return summary;
}

// The directory and the name of a file named on the command line.
std::pair<std::string, std::string> split_path(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return {".", path};
  return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

using SessionWriter = void (*)(const std::string&, const std::vector<SessionRow>&);

// The report and the plot asked for, with their writers.
std::vector<std::pair<std::string, SessionWriter>> session_files(const Options& o) {
  std::vector<std::pair<std::string, SessionWriter>> files;
  if (!o.report.empty()) files.emplace_back(o.report, static_cast<SessionWriter>(write_report));
  if (!o.plot.empty()) files.emplace_back(o.plot, write_plot);
  return files;
}

// Refused before any work, like the outputs.
void check_session_files(const Options& o) {
  const std::vector<FileId> inputs = file_ids({o.light, o.dark, o.bias});
  for (const auto& file : session_files(o)) {
    const auto [dir, name] = split_path(file.first);
    check_targets(dir, {name}, o.overwrite, inputs);
  }
}

// Each file appears whole or not at all.
void write_session_files(const Options& o, const Summary& summary) {
  std::vector<SessionRow> rows;
  for (const LightSummary& light : summary.lights) rows.push_back(light.report);
  const std::vector<FileId> inputs = file_ids({o.light, o.dark, o.bias});
  for (const auto& file : session_files(o)) {
    const auto [dir, name] = split_path(file.first);
    StagedFiles staged(dir);
    staged.write(name, [&](const std::string& path) { file.second(path, rows); });
    staged.commit(o.overwrite, inputs);
  }
}

Summary run(const Options& o, std::ostream& err, bool err_is_terminal) {
  if (!o.demo_dir.empty()) return run_demo(o, err, err_is_terminal);
  const RunSettings s = settings_of(o);
  if (!o.lights.empty()) return run_batch(o, s, err, err_is_terminal);
  // Named after the light as in a batch, unless --out-name says.
  const LightJob job{o.light, o.out_name ? *o.out_name : light_jobs({o.light}).front().prefix};
  LightOutcome outcome;
  Summary summary = single_run(s, job, &outcome);
  summary.folder = common_folder({o.light});
  summary.verbose = o.verbose;
  return summary;
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
    if (!o.demo_dir.empty()) make_directories("--demo", o.demo_dir);
    if (!o.out_dir.empty()) make_directories("--out-dir", o.out_dir);
    check_session_files(o);
    const Summary summary = run(o, err, err_is_terminal);
    if (!summary.batch && o.verbose)
      for (const LightSummary& light : summary.lights) print_warnings(err, light);
    write_session_files(o, summary);
    if (o.json)
      print_json(out, summary);
    else
      print_text(out, summary);
    if (!summary.failures.empty()) return 2;
    return o.strict && warned_lights(summary) > 0 ? 3 : 0;
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
