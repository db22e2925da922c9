#include "tools/tenvora_master/master_run.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <thread>

#include "combining/combine_strips.h"
#include "fits/frame_list.h"
#include "fits/staged_files.h"
#include "fits/tool_error.h"

namespace {

// About 256 x 256 pixels of each frame, on a grid fixed by the frame's size
// alone, tell its level and noise.
constexpr int32_t kSampleSide = 256;

struct Sampler {
  int32_t width, step_x, step_y;
  std::vector<float> values;

  void take(int32_t first, int32_t rows, const float* strip) {
    for (int32_t y = first; y < first + rows; ++y)
      if (y % step_y == 0)
        for (int32_t x = 0; x < width; x += step_x)
          values.push_back(strip[static_cast<size_t>(y - first) * width + x]);
  }
};

double median_of(std::vector<float>& values) {
  const size_t n = values.size(), middle = n / 2;
  std::nth_element(values.begin(), values.begin() + middle, values.end());
  const double high = values[middle];
  if (n % 2) return high;
  return 0.5 * (*std::max_element(values.begin(), values.begin() + middle) + high);
}

// Splits FILE into its directory and name.
std::pair<std::string, std::string> split_path(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return {".", path};
  return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

// "\rtenvora-master: combining 42 %" while the percentage changes.
std::function<void(int32_t)> progress_bar(std::ostream& err, bool shown, int32_t height) {
  if (!shown) return {};
  return [&err, height, last = -1](int32_t rows) mutable {
    const int percent = static_cast<int>(100LL * rows / height);
    if (percent == last) return;
    last = percent;
    err << "\rtenvora-master: combining " << percent << " %" << (rows == height ? "\n" : "")
        << std::flush;
  };
}

}  // namespace

FrameStats sample_stats(std::vector<float> values) {
  values.erase(
      std::remove_if(values.begin(), values.end(), [](float v) { return !std::isfinite(v); }),
      values.end());
  FrameStats stats;
  if (values.empty()) {
    stats.median = stats.noise = std::numeric_limits<double>::quiet_NaN();
    return stats;
  }
  stats.median = median_of(values);
  for (float& v : values) v = static_cast<float>(std::abs(v - stats.median));
  stats.noise = kMadToSigma * median_of(values);
  return stats;
}

MasterResult make_master(const MasterOptions& o, std::ostream& err, bool err_is_terminal) {
  MasterResult result;
  result.out = o.out;
  result.bias = o.bias;
  result.rule = o.rule;
  const auto [dir, name] = split_path(o.out);
  result.frames = expand_frames(o.frames, file_ids({o.out, o.bias}),
                                {"tenvora-master", "tenvora-match"}, "BIAS/DARK");
  std::vector<std::string> inputs = result.frames;
  if (!o.bias.empty()) inputs.push_back(o.bias);
  const std::vector<FileId> input_ids = file_ids(inputs);
  check_targets(dir, {name}, o.overwrite, input_ids);

  std::vector<FitsStrips> strips;
  std::vector<FrameInfo> infos;
  for (const std::string& path : result.frames) {
    FrameInfo info{path, 0, 0, {}};
    strips.emplace_back(path, o.max_pixels, &info.cards);
    info.width = strips.back().width();
    info.height = strips.back().height();
    infos.push_back(std::move(info));
  }
  result.kind = master_kind(o.kind, infos, &result.warnings);
  check_frames(infos, o.refuse_mismatch, &result.warnings);
  result.width = infos.front().width;
  result.height = infos.front().height;
  std::vector<FitsStrips> bias;
  if (!o.bias.empty()) {
    bias.emplace_back(o.bias, o.max_pixels);
    if (bias[0].width() != result.width || bias[0].height() != result.height)
      throw ToolError(o.bias, "is " + std::to_string(bias[0].width()) + " x " +
                                  std::to_string(bias[0].height()) + ", the frames " +
                                  std::to_string(result.width) + " x " +
                                  std::to_string(result.height) + ": the bias must be their size");
  }

  std::vector<Sampler> samplers(strips.size(), Sampler{result.width,
                                                       std::max(1, result.width / kSampleSide),
                                                       std::max(1, result.height / kSampleSide),
                                                       {}});
  std::vector<RowReader> readers;
  for (size_t f = 0; f < strips.size(); ++f)
    readers.push_back([&strips, &samplers, f](int32_t first, int32_t rows, float* to) {
      strips[f].read_rows(first, rows, to);
      samplers[f].take(first, rows, to);
    });
  RowReader bias_reader;
  if (!bias.empty())
    bias_reader = [&bias](int32_t first, int32_t rows, float* to) {
      bias[0].read_rows(first, rows, to);
    };

  Frame master{result.width, result.height, {}};
  master.pixels.resize(static_cast<size_t>(result.width) * result.height);
  StripPlan plan{
      result.width, result.height,
      o.jobs > 0 ? o.jobs : static_cast<int>(std::max(1u, std::thread::hardware_concurrency())),
      o.strip_rows};
  result.jobs = plan.jobs;
  const std::vector<long long> clipped =
      combine_strips(plan, readers, bias_reader, o.rule, master.pixels.data(),
                     progress_bar(err, err_is_terminal, result.height));

  long long clipped_total = 0;
  for (size_t f = 0; f < strips.size(); ++f) {
    result.stats.push_back(sample_stats(std::move(samplers[f].values)));
    result.stats.back().clipped = clipped[f];
    clipped_total += clipped[f];
  }
  result.clipped_share = static_cast<double>(clipped_total) /
                         (static_cast<double>(master.pixels.size()) * strips.size());
  const std::vector<MasterWarning> outliers = outlier_warnings(infos, result.stats);
  result.warnings.insert(result.warnings.end(), outliers.begin(), outliers.end());

  const MasterHeader header{result.kind, o.rule, o.bias, result.clipped_share};
  StagedFiles staged(dir);
  staged.write(name, [&](const std::string& path) {
    write_fits(path, master, master_keys(header, infos), -32, common_cards(infos));
  });
  staged.commit(o.overwrite, input_ids);
  return result;
}
