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
  s.compress = o.compress;
  s.out_dir = o.out_dir;
  s.max_pixels = o.max_pixels;
  s.method = o.method == "plugin" ? MatchMethod::plugin : MatchMethod::fit;
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
  try {
    if (earlier)
      outcome->summary = std::move(*earlier);
    else
      *outcome = match_files(s, job, inputs);
  } catch (const std::bad_alloc&) {
    throw ToolError(job.path, "out of memory");
  }
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

// The input files of a run: the dark, the bias and the lights.
std::vector<FileId> run_inputs(const RunSettings& s, const std::vector<LightJob>& jobs) {
  std::vector<std::string> paths = {s.dark, s.bias};
  for (const LightJob& job : jobs) paths.push_back(job.path);
  return file_ids(paths);
}

// The report and the plot are refused before any work, like the outputs,
// and never take the place of one of the run's outputs.
void check_session_files(const Options& o, const RunSettings& s,
                         const std::vector<LightJob>& jobs) {
  const std::vector<FileId> inputs = run_inputs(s, jobs);
  for (const auto& file : session_files(o)) {
    const auto [dir, name] = split_path(file.first);
    check_targets(dir, {name}, o.overwrite, inputs);
    if (!same_file(dir, s.out_dir)) continue;
    for (const LightJob& job : jobs)
      for (const std::string& output_name : output_names(s, job.prefix))
        if (output_name == name)
          throw ToolError(file.first, "is also an output of the run, of light " + job.path);
  }
}

// Each file appears whole or not at all, and only when the run matched a
// light: a run in which every light failed leaves the last run's in place.
// Returns the error line of a file that cannot be written ("" when none), so
// that the summary is printed all the same.
std::string write_session_files(const Options& o, const RunSettings& s,
                                const std::vector<LightJob>& jobs, const Summary& summary,
                                std::ostream& err) {
  if (summary.lights.empty()) {
    for (const auto& file : session_files(o))
      err << "tenvora-match: " << file.first << ": not written: no light was matched\n";
    return "";
  }
  std::vector<SessionRow> rows;
  for (const LightSummary& light : summary.lights) rows.push_back(light.report);
  const std::vector<FileId> inputs = run_inputs(s, jobs);
  try {
    for (const auto& file : session_files(o)) {
      const auto [dir, name] = split_path(file.first);
      StagedFiles staged(dir);
      staged.write(name, [&](const std::string& path) { file.second(path, rows); });
      staged.commit(o.overwrite, inputs);
    }
  } catch (const ToolError& e) {
    return e.what();
  }
  return "";
}

// The demo's night: one dark and bias, lights whose scales drift, matched
// as a batch with --subtract into the demo directory.
Summary run_demo(const Options& o, std::ostream& err, bool err_is_terminal,
                 std::string* session_problem) {
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
  const std::vector<LightJob> jobs = light_jobs(match.lights);
  for (const LightJob& job : jobs) {
    const std::vector<std::string> outputs = output_names(s, job.prefix);
    names.insert(names.end(), outputs.begin(), outputs.end());
  }
  check_targets(o.demo_dir, names, o.overwrite, {});
  check_session_files(o, s, jobs);

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
  Summary summary = run_batch(match, s, jobs, err, err_is_terminal);
  summary.demo = report;
  *session_problem = write_session_files(o, s, jobs, summary, err);
  return summary;
}

// The run, its report and plot written.
Summary run(const Options& o, std::ostream& err, bool err_is_terminal,
            std::string* session_problem) {
  if (!o.demo_dir.empty()) return run_demo(o, err, err_is_terminal, session_problem);
  const RunSettings s = settings_of(o);
  const std::vector<LightJob> jobs =
      // Named after the light as in a batch, unless --out-name says.
      o.lights.empty()
          ? std::vector<LightJob>{{o.light,
                                   o.out_name ? *o.out_name : light_jobs({o.light}).front().prefix}}
          : light_jobs(expand_lights(o.lights, file_ids({s.dark, s.bias})));
  check_session_files(o, s, jobs);
  for (const LightJob& job : jobs)
    if (!s.bias.empty() && same_file(job.path, s.bias))
      throw ToolError(s.bias, "is also the light " + job.path + "; a bias is a frame of its own");
  Summary summary;
  if (!o.lights.empty()) {
    summary = run_batch(o, s, jobs, err, err_is_terminal);
  } else {
    LightOutcome outcome;
    summary = single_run(s, jobs.front(), &outcome);
    summary.folder = common_folder({o.light});
    summary.verbose = o.verbose;
  }
  *session_problem = write_session_files(o, s, jobs, summary, err);
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
    std::string session_problem;
    const Summary summary = run(o, err, err_is_terminal, &session_problem);
    if (!summary.batch && o.verbose)
      for (const LightSummary& light : summary.lights) print_warnings(err, light);
    errno = 0;
    if (o.json)
      print_json(out, summary);
    else
      print_text(out, summary);
    out.flush();
    if (!out) {
      // The outputs stand, but whoever reads the summary must not take the
      // run for a success.
      const int error = errno;
      err << "tenvora-match: standard output: the summary cannot be written"
          << (error ? std::string(": ") + std::strerror(error) : std::string()) << "\n";
      return 2;
    }
    if (!session_problem.empty()) {
      err << "tenvora-match: " << session_problem << "\n";
      return 2;
    }
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
