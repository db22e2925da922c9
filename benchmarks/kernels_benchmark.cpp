// Each kernel, fast and straightforward, and the whole Go through the host
// emulation, on 6000 x 4000 frames of a dark-frame-like signal: a level, a
// glow towards one corner, noise and a few hot pixels. Every figure is read
// against the memcpy of one plane in the same run.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "kernels/kernel_paths.h"
#include "kernels/kernels.h"
#include "matching/matched_dark.h"
#include "plugin/plugin_state.h"
#include "testhost/host_emulation.h"

namespace {

constexpr int32_t kWidth = 6000;
constexpr int32_t kHeight = 4000;
constexpr size_t kCount = size_t(kWidth) * kHeight;

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
  plugin_state.frame_width = kWidth;
  plugin_state.frame_height = kHeight;
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

template <void (*kernel)(const float*, float*)>
void BM_plane_to_plane(benchmark::State& state) {
  Frames& f = frames();
  for (auto _ : state) {
    kernel(f.dark.data(), f.out1.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_plane_to_plane<separate_hot_pixels>)
    ->Name("separate_hot_pixels")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_plane_to_plane<separate_hot_pixels_sse2>)
    ->Name("separate_hot_pixels/sse2")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_plane_to_plane<separate_hot_pixels_reference>)
    ->Name("separate_hot_pixels/reference")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2);
BENCHMARK(BM_plane_to_plane<copy_plane>)->Name("copy_plane")->Unit(benchmark::kMillisecond);

template <void (*kernel)(const float*)>
void BM_search(benchmark::State& state) {
  Frames& f = frames();
  for (auto _ : state) {
    kernel(f.light.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_search<find_darkest_block>)->Name("find_darkest_block")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_search<find_darkest_block_sse2>)
    ->Name("find_darkest_block/sse2")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_search<find_darkest_block_reference>)
    ->Name("find_darkest_block/reference")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);
BENCHMARK(BM_search<find_hot_pixels>)->Name("find_hot_pixels")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_search<find_hot_pixels_reference>)
    ->Name("find_hot_pixels/reference")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);

// a = a -/+ b, on a plane of modest values that neither grows nor shrinks
// much over the iterations.
template <void (*kernel)(float*, const float*)>
void BM_in_place(benchmark::State& state) {
  Frames& f = frames();
  for (auto _ : state) {
    kernel(f.out2.data(), f.bias.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_in_place<subtract_plane>)->Name("subtract_plane")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_in_place<subtract_plane_reference>)
    ->Name("subtract_plane/reference")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_in_place<add_plane>)->Name("add_plane")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_in_place<add_plane_reference>)
    ->Name("add_plane/reference")
    ->Unit(benchmark::kMillisecond);

void BM_scale_and_sum(benchmark::State& state) {
  Frames& f = frames();
  for (auto _ : state) {
    scale_and_sum(f.out1.data(), 1.0f, f.out2.data(), 1.0f, f.out3.data(), nullptr, 0);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_scale_and_sum)->Name("scale_and_sum")->Unit(benchmark::kMillisecond);

void BM_split_dark_frame(benchmark::State& state) {
  Frames& f = frames();
  for (auto _ : state) {
    split_dark_frame(f.dark.data(), f.bias.data(), f.out1.data(), f.out2.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_split_dark_frame)->Name("split_dark_frame/bias")->Unit(benchmark::kMillisecond);

void BM_difference_plane(benchmark::State& state) {
  Frames& f = frames();
  for (auto _ : state) {
    difference_plane(f.out3.data(), f.light.data(), f.dark.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_difference_plane)->Name("difference_plane")->Unit(benchmark::kMillisecond);

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

}  // namespace

BENCHMARK_MAIN();
