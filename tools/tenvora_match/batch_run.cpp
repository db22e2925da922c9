#include "tools/tenvora_match/batch_run.h"

#include <algorithm>
#include <atomic>
#include <future>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "fits/tool_error.h"
#include "tools/tenvora_match/earlier_outputs.h"
#include "tools/tenvora_match/job_count.h"
#include "tools/tenvora_match/light_list.h"
#include "tools/tenvora_match/progress.h"

namespace {

// The error line of a light that failed; a fault of the tool is named so.
std::string failure_line(const std::exception_ptr& error, const std::string& light) {
  try {
    std::rethrow_exception(error);
  } catch (const ToolError& e) {
    return e.what();
  } catch (const InternalError& e) {
    return std::string("internal error: ") + e.what();
  } catch (const std::bad_alloc&) {
    return light + ": out of memory";
  }
}

}  // namespace

Summary run_batch(const Options& o, const RunSettings& s, const std::vector<LightJob>& jobs,
                  std::ostream& err, bool terminal) {
  // Outcomes are kept by light so the summary lists them in the order
  // given, whichever finishes first; those of an earlier run are there now.
  std::vector<LightSummary> matched(jobs.size());
  std::vector<size_t> todo;  // the lights to match, by index
  std::vector<std::string> paths = {s.dark, s.bias}, targets;
  for (size_t k = 0; k < jobs.size(); ++k) {
    paths.push_back(jobs[k].path);
    std::optional<LightSummary> earlier;
    if (s.skip_existing) earlier = earlier_outputs(s, jobs[k]);
    if (earlier) {
      matched[k] = std::move(*earlier);
      continue;
    }
    todo.push_back(k);
    const std::vector<std::string> names = output_names(s, jobs[k].prefix);
    targets.insert(targets.end(), names.begin(), names.end());
  }
  const std::vector<FileId> inputs = file_ids(paths);
  check_targets(s.out_dir, targets, s.overwrite, inputs);
  DarkInput dark = read_dark(s);
  const FrameGeometry frame{dark.dark.width, dark.dark.height};

  Summary summary;
  summary.batch = true;
  summary.inputs.push_back({"dark", s.dark, frame.width, frame.height});
  summary.use_bias = !s.bias.empty();
  if (summary.use_bias) summary.inputs.push_back({"bias", s.bias, frame.width, frame.height});
  summary.bias_factor = s.bias_factor;
  summary.subtract = s.subtract;
  const long long plane_bytes = static_cast<long long>(frame.width) * frame.height * sizeof(float);
  // The dark as read (for the checks), its glow and hot planes, the bias.
  const int shared_planes = 3 + (summary.use_bias ? 1 : 0);
  const int workers =
      o.jobs > 0 ? std::min<int>(o.jobs, static_cast<int>(std::max<size_t>(todo.size(), 1)))
                 : machine_jobs(plane_bytes, shared_planes, planes_per_job(s), todo.size());

  // Each worker takes the next light.
  std::vector<std::string> problems(jobs.size());
  std::vector<char> failed(jobs.size(), 0);  // a byte each: no bits shared between lights
  std::atomic<size_t> next{0};
  std::mutex report;
  std::exception_ptr fault;  // an exception no light should throw: ends the run
  std::vector<std::string> light_paths;
  for (const LightJob& job : jobs) light_paths.push_back(job.path);
  summary.folder = common_folder(light_paths);
  summary.verbose = o.verbose;
  Progress progress{err, terminal, todo.size(), o.verbose, summary.folder};
  progress_start(progress);
  // The set is finished on this thread while the other workers read their
  // first lights; a set that cannot be made ends the run with its error.
  DarkSet set;
  std::promise<void> set_made;
  const std::shared_future<void> set_ready = set_made.get_future().share();
  std::atomic<bool> no_set{false};
  auto work = [&]() {
    for (size_t i = next++; i < todo.size(); i = next++) {
      const size_t k = todo[i];
      try {
        LightInput input = read_light_file(s, jobs[k], frame);
        set_ready.wait();
        if (no_set) return;
        matched[k] = match_light_file(s, set, jobs[k], std::move(input), inputs);
        const std::lock_guard<std::mutex> lock(report);
        progress_matched(progress, matched[k]);
      } catch (...) {
        const std::exception_ptr error = std::current_exception();
        const std::lock_guard<std::mutex> lock(report);
        try {
          problems[k] = failure_line(error, jobs[k].path);
        } catch (...) {
          if (!fault) fault = std::current_exception();
          next = todo.size();
          return;
        }
        failed[k] = true;
        progress_failed(progress, problems[k]);
      }
    }
  };
  std::vector<std::thread> threads;
  try {
    for (int t = 1; t < workers; ++t) threads.emplace_back(work);
  } catch (const std::system_error&) {
    // Too few threads is no reason to stop: the ones made do the work.
  }
  try {
    // Nothing left to match: the dark need not be split.
    if (!todo.empty()) set = finish_dark_set(s, std::move(dark));
  } catch (...) {
    no_set = true;
    next = todo.size();
    set_made.set_value();
    for (std::thread& thread : threads) thread.join();
    throw;
  }
  set_made.set_value();
  work();
  for (std::thread& thread : threads) thread.join();
  if (fault) std::rethrow_exception(fault);
  for (size_t k = 0; k < jobs.size(); ++k)
    if (failed[k])
      summary.failures.push_back({jobs[k].path, problems[k]});
    else
      summary.lights.push_back(std::move(matched[k]));
  progress_end(progress);
  return summary;
}
