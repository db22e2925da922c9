#include "combining/combine_strips.h"

#include <algorithm>
#include <exception>
#include <mutex>
#include <thread>

int32_t strip_rows_for(int32_t width, size_t frames) {
  const size_t row_bytes = static_cast<size_t>(width) * sizeof(float) * std::max<size_t>(frames, 1);
  return static_cast<int32_t>(std::max<size_t>(1, (size_t{8} << 20) / row_bytes));
}

namespace {

struct Shared {
  const StripPlan& plan;
  const std::vector<RowReader>& frames;
  const RowReader& bias;
  const std::function<void(int32_t)>& progress;
  int32_t strip_rows;
  std::mutex reading;  // the next strip, the readers, the failure, the totals
  int32_t next_row = 0;
  int32_t rows_done = 0;
  std::exception_ptr failure;
  std::vector<long long> clipped;
};

// Reads the next strip into the job's buffers; false when none is left.
bool read_strip(Shared& s, std::vector<std::vector<float>>& strips, std::vector<float>& bias,
                int32_t* first, int32_t* rows) {
  std::lock_guard<std::mutex> lock(s.reading);
  if (s.failure || s.next_row >= s.plan.height) return false;
  *first = s.next_row;
  *rows = std::min(s.strip_rows, s.plan.height - s.next_row);
  s.next_row += *rows;
  for (size_t f = 0; f < s.frames.size(); ++f) s.frames[f](*first, *rows, strips[f].data());
  if (s.bias) s.bias(*first, *rows, bias.data());
  return true;
}

void run_job(Shared& s, const CombineRule& rule, float* out) {
  const size_t strip = static_cast<size_t>(s.plan.width) * s.strip_rows;
  std::vector<std::vector<float>> strips(s.frames.size(), std::vector<float>(strip));
  std::vector<float> bias(s.bias ? strip : 0);
  std::vector<const float*> frames;
  for (const auto& f : strips) frames.push_back(f.data());
  std::vector<long long> clipped(s.frames.size(), 0);
  PixelCombiner combiner(rule, static_cast<int>(s.frames.size()));
  try {
    int32_t first = 0, rows = 0;
    while (read_strip(s, strips, bias, &first, &rows)) {
      const size_t count = static_cast<size_t>(s.plan.width) * rows;
      if (s.bias)
        for (auto& f : strips)
          for (size_t i = 0; i < count; ++i) f[i] -= bias[i];
      combiner.combine(frames.data(), count, out + static_cast<size_t>(s.plan.width) * first,
                       clipped.data());
      std::lock_guard<std::mutex> lock(s.reading);
      s.rows_done += rows;
      if (s.progress) s.progress(s.rows_done);
    }
  } catch (...) {
    std::lock_guard<std::mutex> lock(s.reading);
    if (!s.failure) s.failure = std::current_exception();
  }
  std::lock_guard<std::mutex> lock(s.reading);
  for (size_t f = 0; f < clipped.size(); ++f) s.clipped[f] += clipped[f];
}

}  // namespace

std::vector<long long> combine_strips(const StripPlan& plan, const std::vector<RowReader>& frames,
                                      const RowReader& bias, const CombineRule& rule, float* out,
                                      const std::function<void(int32_t)>& progress) {
  Shared s{plan,
           frames,
           bias,
           progress,
           plan.strip_rows > 0 ? plan.strip_rows : strip_rows_for(plan.width, frames.size()),
           {},
           0,
           0,
           {},
           std::vector<long long>(frames.size(), 0)};
  const int32_t strips = (plan.height + s.strip_rows - 1) / s.strip_rows;
  const int jobs = std::max(1, std::min<int>(plan.jobs, strips));
  std::vector<std::thread> threads;
  for (int j = 1; j < jobs; ++j) threads.emplace_back([&] { run_job(s, rule, out); });
  run_job(s, rule, out);
  for (std::thread& t : threads) t.join();
  if (s.failure) std::rethrow_exception(s.failure);
  return s.clipped;
}
