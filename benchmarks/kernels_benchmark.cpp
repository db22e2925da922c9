// Each kernel, fast and straightforward, and the whole Go through the host
// emulation, on 6000 x 4000 frames of a dark-frame-like signal: a level, a
// glow towards one corner, noise and a few hot pixels. Every figure is read
// against the memcpy of one plane in the same run.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "kernels/kernels.h"
#include "matching/matched_dark.h"
#include "matching/stages.h"
#include "plugin/plugin_state.h"
#include "testhost/host_emulation.h"
#include "tools/tenvora_match/match_frames.h"

namespace {

constexpr int32_t kWidth = 6000;
constexpr int32_t kHeight = 4000;
constexpr size_t kCount = size_t(kWidth) * kHeight;
constexpr FrameGeometry kFrame = {kWidth, kHeight};

std::vector<float> dark_like_frame(uint32_t seed, float level) {
  std::vector<float> plane(kCount);
  uint32_t state = seed;
  for (int32_t y = 0; y < kHeight; ++y) {
    for (int32_t x = 0; x < kWidth; ++x) {
      state = state * 1664525u + 1013904223u;
      const float noise = float(state >> 16) * (1.0f / 65536.0f);
      float value = level + 40.0f * float(kWidth - x + y) / float(kWidth + kHeight) + noise;
      if ((state & 0x3ff) == 0) value += 500.0f;  // about one pixel in a thousand
      plane[x + size_t(kWidth) * y] = value;
    }
  }
  return plane;
}

struct Frames {
  std::vector<float> light = dark_like_frame(1, 300.0f);
  std::vector<float> dark = dark_like_frame(2, 100.0f);
  std::vector<float> bias = dark_like_frame(3, 20.0f);
  std::vector<float> out1 = std::vector<float>(kCount, 1.0f);
  std::vector<float> out2 = std::vector<float>(kCount, 2.0f);
  std::vector<float> out3 = std::vector<float>(kCount, 3.0f);
};

Frames& frames() {
  static Frames f;
  return f;
}

void BM_memcpy(benchmark::State& state) {
  Frames& f = frames();
  for (auto _ : state) {
    std::memcpy(f.out1.data(), f.dark.data(), kCount * sizeof(float));
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_memcpy)->Unit(benchmark::kMillisecond)->MinTime(1.0);

void BM_copy_plane(benchmark::State& state) {
  Frames& f = frames();
  for (auto _ : state) {
    copy_plane(kFrame, f.dark.data(), f.out1.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_copy_plane)->Name("copy_plane")->Unit(benchmark::kMillisecond);

// One kernel of a table on the frames. In-place kernels work on a plane of
// modest values that neither grows nor shrinks much over the iterations.
struct KernelRun {
  const char* name;
  bool fused;  // a pipeline pass, which the reference table has not
  void (*run)(const KernelTable& k, Frames& f);
};

const KernelRun kernel_runs[] = {
    {"separate_hot_pixels", false,
     [](const KernelTable& k, Frames& f) {
       k.separate_hot_pixels(kFrame, f.dark.data(), f.out1.data());
     }},
    {"find_darkest_block", false,
     [](const KernelTable& k, Frames& f) {
       BlockAnchor anchor{};
       k.find_darkest_block(kFrame, f.light.data(), &anchor);
       benchmark::DoNotOptimize(anchor);
     }},
    {"find_hot_pixels", false,
     [](const KernelTable& k, Frames& f) {
       HotPixelList hot{};
       benchmark::DoNotOptimize(k.find_hot_pixels(kFrame, f.light.data(), &hot));
     }},
    {"subtract_plane", false,
     [](const KernelTable& k, Frames& f) {
       k.subtract_plane(kFrame, f.out2.data(), f.bias.data());
     }},
    {"add_plane", false,
     [](const KernelTable& k, Frames& f) { k.add_plane(kFrame, f.out2.data(), f.bias.data()); }},
    {"scale_and_sum", true,
     [](const KernelTable& k, Frames& f) {
       k.scale_and_sum(kFrame, f.out1.data(), 1.0f, f.out2.data(), 1.0f, nullptr, 0, f.out3.data(),
                       f.out1.data(), f.out2.data());
     }},
    // The tool's use: shared components read, only the matched dark written.
    {"scale_and_sum/matched only", true,
     [](const KernelTable& k, Frames& f) {
       k.scale_and_sum(kFrame, f.out1.data(), 1.0f, f.out2.data(), 1.0f, nullptr, 0, f.out3.data(),
                       nullptr, nullptr);
     }},
    {"split_dark_frame/bias", true,
     [](const KernelTable& k, Frames& f) {
       k.split_dark_frame(kFrame, f.dark.data(), f.bias.data(), f.out1.data(), f.out2.data());
     }},
    {"difference_plane", true,
     [](const KernelTable& k, Frames& f) {
       k.difference_plane(kFrame, f.out3.data(), f.light.data(), f.dark.data());
     }},
};

// Every kernel in every table the processor runs, named KERNEL/TABLE; the
// reference, up to a second a run, only a few times. Registered at start-up,
// as the BENCHMARK macros do.
bool register_kernels() {
  std::vector<const KernelTable*> tables = {&sse2_kernels, &reference_kernels};
  if (cpu_has_avx2()) tables.insert(tables.begin(), &avx2_kernels);
  for (const KernelRun& kernel : kernel_runs) {
    for (const KernelTable* table : tables) {
      if (kernel.fused && table == &reference_kernels) continue;
      const std::string name = std::string(kernel.name) + "/" + table->name;
      benchmark::internal::Benchmark* b =
          benchmark::RegisterBenchmark(name.c_str(), [&kernel, table](benchmark::State& state) {
            Frames& f = frames();
            for (auto _ : state) {
              kernel.run(*table, f);
              benchmark::ClobberMemory();
            }
          });
      b->Unit(benchmark::kMillisecond);
      if (table == &reference_kernels) b->Iterations(3);
    }
  }
  return true;
}
const bool kernels_registered = register_kernels();

// The whole Go, bias mode, factor 1, "Subtract Matched Dark" on, through the
// host emulation's command function: the host makes and shows the four new
// images as it would. A fresh host for each run, set up outside the timing.
// "run_matched_dark" is the whole call; "run_matched_dark/plug-in" leaves
// out the time spent inside the host's commands (making zeroed images and
// keeping a copy of every image it is told to show), which is the host's own.
double host_seconds = 0;

HostWord WINAPI timed_host(HostWord code, HostWord p1, HostWord p2, HostWord p3) {
  const auto start = std::chrono::steady_clock::now();
  const HostWord result = testhost::HostEmulation::callback()(code, p1, p2, p3);
  host_seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return result;
}

void BM_run_matched_dark(benchmark::State& state) {
  const bool plug_in_only = state.range(0) != 0;
  Frames& f = frames();
  std::unique_ptr<testhost::HostEmulation> host;
  for (auto _ : state) {
    host.reset();
    host = std::make_unique<testhost::HostEmulation>();
    PluginState& s = plugin_state;
    s.host_callback = timed_host;
    s.active_image = host->add_image("Light", kWidth, kHeight, f.light);
    s.light_image = s.active_image;
    s.dark_image = host->add_image("Dark", kWidth, kHeight, f.dark);
    s.bias_image = host->add_image("Bias", kWidth, kHeight, f.bias);
    s.light_plane = host->find(s.light_image)->pixels.data();
    s.dark_plane = host->find(s.dark_image)->pixels.data();
    s.bias_plane = host->find(s.bias_image)->pixels.data();
    s.image_chosen = s.dark_chosen = s.bias_chosen = s.use_bias = 1;
    s.bias_factor = 1;
    s.subtract_matched = 1;
    host_seconds = 0;
    const auto start = std::chrono::steady_clock::now();
    run_matched_dark();
    benchmark::ClobberMemory();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.SetIterationTime(plug_in_only ? seconds - host_seconds : seconds);
  }
}
BENCHMARK(BM_run_matched_dark)
    ->Name("run_matched_dark")
    ->Arg(0)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);
BENCHMARK(BM_run_matched_dark)
    ->Name("run_matched_dark/plug-in")
    ->Arg(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);

Frame tool_frame(const std::vector<float>& plane) {
  return {kWidth, kHeight, Pixels(plane.begin(), plane.end())};
}

// One light matched against a dark split once, bias factor 1, with the
// corrected image, through the stages as tenvora-match and the Python module
// compose them, into planes allocated once: the core's own time for a light
// (benchmarks/python_match.py sets the module's time, allocation included,
// against it).
void BM_match_light_stages(benchmark::State& state) {
  Frames& f = frames();
  const DarkSet set = split_dark_set(tool_frame(f.dark), tool_frame(f.bias), 1, true);
  std::vector<float> corrected(kCount);
  for (auto _ : state) {
    const float* measured =
        light_to_measure(kFrame, f.light.data(), f.bias.data(), 1, f.out3.data());
    const Measurement m = measure(kFrame, measured, set.glow.data(), set.hot.data());
    scale_and_sum(kFrame, set.glow.data(), m.glow_ratio, set.hot.data(), m.hot_ratio, f.bias.data(),
                  1, f.out3.data(), f.out1.data(), f.out2.data());
    correct_light(kFrame, f.light.data(), f.out3.data(), corrected.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_match_light_stages)
    ->Name("match_light/stages")
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0);

// The same through match_light, which allocates its four output planes in
// each run.
void BM_match_light(benchmark::State& state) {
  Frames& f = frames();
  const Frame light = tool_frame(f.light);
  const DarkSet set = split_dark_set(tool_frame(f.dark), tool_frame(f.bias), 1, true);
  for (auto _ : state) benchmark::DoNotOptimize(match_light(light, set));
}
BENCHMARK(BM_match_light)
    ->Name("match_light/allocating")
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
