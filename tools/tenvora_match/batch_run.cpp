#include "tools/tenvora_match/batch_run.h"

#include <new>

#include "tools/tenvora_match/light_list.h"
#include "tools/tenvora_match/progress.h"
#include "tools/tenvora_match/tool_error.h"

namespace {

// The error line of a light that failed; a fault of the tool is named so.
std::string failure_line(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const ToolError& e) {
    return e.what();
  } catch (const InternalError& e) {
    return std::string("internal error: ") + e.what();
  } catch (const std::bad_alloc&) {
    return "out of memory";
  }
}

}  // namespace

Summary run_batch(const Options& o, const RunSettings& s, std::ostream& err, bool terminal) {
  const std::vector<LightJob> jobs =
      light_jobs(expand_lights(o.lights, file_ids({s.dark, s.bias})));
  std::vector<std::string> paths = {s.dark, s.bias}, targets;
  for (const LightJob& job : jobs) {
    paths.push_back(job.path);
    const std::vector<std::string> names = output_names(s, job.prefix);
    targets.insert(targets.end(), names.begin(), names.end());
  }
  const std::vector<FileId> inputs = file_ids(paths);
  check_targets(s.out_dir, targets, s.overwrite, inputs);
  const DarkSet set = read_dark_set(s);

  Summary summary;
  summary.batch = true;
  summary.inputs.push_back({"dark", s.dark, set.frame.width, set.frame.height});
  summary.use_bias = !s.bias.empty();
  if (summary.use_bias)
    summary.inputs.push_back({"bias", s.bias, set.frame.width, set.frame.height});
  summary.bias_factor = s.bias_factor;
  summary.subtract = s.subtract;
  Progress progress{err, terminal, jobs.size()};
  progress_start(progress);
  for (const LightJob& job : jobs) {
    try {
      summary.lights.push_back(match_light_file(s, set, job, inputs));
      progress_matched(progress, summary.lights.back());
    } catch (...) {
      summary.failures.push_back({job.path, failure_line(std::current_exception())});
      progress_failed(progress, summary.failures.back().problem);
    }
  }
  progress_end(progress);
  return summary;
}
