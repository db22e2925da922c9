// The calibrated lights of real camera frames under each way of scaling the
// dark: the fit, the plug-in's levels and the exposure ratio.
//
//   real_frames [--data DIR]     (default $TENVORA_REALDATA, else ../shared/realdata)
//
// ccd-stl1001e: the master dark is the median of the ten 60 s darks, the
// master bias the median of the ten bias frames; each dark of the series (10
// to 300 s) is calibrated as a light, so the exposure ratio t/60 is the truth.
// ccd-st402 (no bias): each 240 s light against the 1200 s master and each
// 1200 s light against the 240 s master; the exposure-ratio dark takes the
// zero level Z = median(M240 - 240 (M1200 - M240) / 960) as its pedestal.
// Each corrected light is scored over the whole frame: robust noise (1.4826
// MAD), structure (RMS of the 32 x 32 block medians about their median),
// hot-pixel residual (RMS about the median over the master's brightest
// 0.5 % of unsaturated pixels) and the pixels beyond 5 sigma.
#include <dirent.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "fits/fits_io.h"
#include "tools/tenvora_match/light_report.h"
#include "tools/tenvora_match/match_frames.h"

namespace {

std::vector<std::string> fits_in(const std::string& dir) {
  std::vector<std::string> paths;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) {
      const std::string name = e->d_name;
      if (name.size() > 4 &&
          (name.substr(name.size() - 4) == ".FIT" || name.substr(name.size() - 4) == ".fit"))
        paths.push_back(dir + "/" + name);
    }
    closedir(d);
  }
  std::sort(paths.begin(), paths.end());
  return paths;
}

double exposure_of(const std::string& path) {
  std::vector<std::string> cards;
  read_fits(path, kDefaultMaxPixels, &cards);
  const std::optional<std::string> value = card_value(cards, "EXPTIME");
  return value ? std::atof(value->c_str()) : NAN;
}

// The per-pixel median of the frames (mean of the middle two of an even
// count), stored as the raw files store their pixels.
Frame median_frame(const std::vector<std::string>& paths) {
  std::vector<Frame> frames;
  for (const std::string& p : paths) frames.push_back(read_fits(p));
  Frame m{frames[0].width, frames[0].height, Pixels(frames[0].pixels.size()), frames[0].storage};
  std::vector<float> v(frames.size());
  for (size_t i = 0; i < m.pixels.size(); ++i) {
    for (size_t k = 0; k < frames.size(); ++k) v[k] = frames[k].pixels[i];
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    m.pixels[i] = n % 2 ? v[n / 2] : 0.5f * (v[n / 2 - 1] + v[n / 2]);
  }
  return m;
}

double median_of(std::vector<double> v) {
  if (v.empty()) return NAN;
  std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
  return v[v.size() / 2];
}

struct Score {
  double noise, structure, hot_residual, outliers;
};

// bright: the positions of the master's brightest unsaturated pixels.
Score score(const Frame& f, const std::vector<float>& corrected,
            const std::vector<size_t>& bright) {
  std::vector<double> all;
  for (float v : corrected)
    if (std::isfinite(v)) all.push_back(v);
  const double median = median_of(all);
  for (double& v : all) v = std::fabs(v - median);
  const double noise = 1.4826 * median_of(all);
  std::vector<double> blocks;
  for (int32_t by = 0; by + 32 <= f.height; by += 32)
    for (int32_t bx = 0; bx + 32 <= f.width; bx += 32) {
      std::vector<double> b;
      for (int32_t y = by; y < by + 32; ++y)
        for (int32_t x = bx; x < bx + 32; ++x) {
          const float v = corrected[size_t(y) * f.width + x];
          if (std::isfinite(v)) b.push_back(v);
        }
      blocks.push_back(median_of(b));
    }
  const double block_median = median_of(blocks);
  double structure = 0;
  for (double b : blocks) structure += (b - block_median) * (b - block_median);
  structure = std::sqrt(structure / blocks.size());
  double hot = 0;
  for (size_t i : bright) hot += (corrected[i] - median) * (corrected[i] - median);
  hot = std::sqrt(hot / bright.size());
  double outliers = 0;
  for (float v : corrected) outliers += std::fabs(v - median) > 5 * noise;
  return {noise, structure, hot, outliers};
}

// The master's brightest share of unsaturated pixels (dark less bias).
std::vector<size_t> brightest(const Frame& dark, const Frame& bias, double saturation) {
  std::vector<size_t> order;
  std::vector<float> signal(dark.pixels.size());
  for (size_t i = 0; i < dark.pixels.size(); ++i) {
    signal[i] = dark.pixels[i] - (bias.pixels.empty() ? 0.0f : bias.pixels[i]);
    if (std::isfinite(dark.pixels[i]) && !(dark.pixels[i] >= saturation)) order.push_back(i);
  }
  const size_t count = static_cast<size_t>(0.005 * dark.pixels.size());
  std::partial_sort(order.begin(), order.begin() + count, order.end(),
                    [&](size_t a, size_t b) { return signal[a] > signal[b]; });
  order.resize(count);
  return order;
}

std::vector<float> corrected_by(const Frame& light, const DarkSet& set, float glow_scale,
                                float hot_scale) {
  std::vector<float> matched(light.pixels.size()), corrected(light.pixels.size());
  const bool bias = !set.bias.pixels.empty();
  scale_and_sum(set.frame, set.glow.data(), glow_scale, set.hot.data(), hot_scale,
                bias ? set.bias.pixels.data() : nullptr, bias ? 1 : 0, matched.data(), nullptr,
                nullptr);
  correct_light(set.frame, light.pixels.data(), matched.data(), corrected.data());
  return corrected;
}

struct Row {
  std::string light;
  double ratio;
  std::map<std::string, Score> scores;
  MatchedFrames fit, plugin;
  double fit_ms;
};

const char* kMethods[] = {"exposure ratio", "plugin levels", "fit"};

Row run_light(const std::string& path, const DarkSet& set, const DarkSet& truth_set, double ratio,
              const std::vector<size_t>& bright) {
  Row row;
  row.light = path.substr(path.find_last_of('/') + 1);
  row.ratio = ratio;
  const Frame light = read_fits(path);
  const auto start = std::chrono::steady_clock::now();
  row.fit = match_light(light, set, false, NAN, MatchMethod::fit);
  row.fit_ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  row.plugin = match_light(light, set, false, NAN, MatchMethod::plugin);
  row.scores["exposure ratio"] =
      score(light, corrected_by(light, truth_set, float(ratio), float(ratio)), bright);
  row.scores["plugin levels"] =
      score(light, corrected_by(light, set, row.plugin.glow_scale, row.plugin.hot_scale), bright);
  row.scores["fit"] =
      score(light, corrected_by(light, set, row.fit.glow_scale, row.fit.hot_scale), bright);
  return row;
}

void print_rows(const std::vector<Row>& rows) {
  std::printf("%-34s %6s | %-15s %8s %8s %9s %8s\n", "light", "ratio", "method", "noise", "struct",
              "hot res", ">5 sig");
  for (const Row& r : rows) {
    for (const char* m : kMethods) {
      const Score& s = r.scores.at(m);
      std::printf("%-34s %6.3f | %-15s %8.3f %8.3f %9.2f %8.0f\n", r.light.c_str(), r.ratio, m,
                  s.noise, s.structure, s.hot_residual, s.outliers);
    }
    const ScaleFit& f = r.fit.fit;
    std::printf(
        "    fit: glow %.4f +- %.4f, hot %.4f +- %.4f, sky %.2f (%.2g, %.2g /px), used %lld, "
        "clipped %lld, left out %lld, noise %.2f, %d rounds, %.1f ms; plugin glow %.4g hot "
        "%.4g\n",
        f.glow_scale, f.glow_error, f.hot_scale, f.hot_error, f.sky_level, f.sky_x, f.sky_y,
        (long long)f.used, (long long)f.clipped, (long long)f.left_out, f.residual_noise, f.rounds,
        r.fit_ms, r.plugin.glow_scale, r.plugin.hot_scale);
  }
}

// Geometric means over the rows, relative to the exposure ratio.
void print_summary(const char* title, const std::vector<Row>& rows) {
  std::printf("\n%s: geometric mean over %zu lights, relative to the exposure ratio\n", title,
              rows.size());
  std::printf("| method | noise | structure | hot-pixel residual | pixels > 5 sigma (mean) |\n");
  std::printf("|---|---:|---:|---:|---:|\n");
  for (const char* m : kMethods) {
    double noise = 0, structure = 0, hot = 0, outliers = 0;
    for (const Row& r : rows) {
      const Score &s = r.scores.at(m), &t = r.scores.at("exposure ratio");
      noise += std::log(s.noise / t.noise);
      structure += std::log(s.structure / t.structure);
      hot += std::log(s.hot_residual / t.hot_residual);
      outliers += s.outliers;
    }
    const double n = static_cast<double>(rows.size());
    std::printf("| %s | %.2f | %.2f | %.2f | %.0f |\n", m, std::exp(noise / n),
                std::exp(structure / n), std::exp(hot / n), outliers / n);
  }
}

// Against the plug-in's levels, light by light: the fit's excess of noise,
// structure and hot-pixel residual, the largest over the lights.
void print_against_plugin(const std::vector<Row>& rows) {
  double noise = 0, structure = 0, hot = 0;
  for (const Row& r : rows) {
    const Score &f = r.scores.at("fit"), &p = r.scores.at("plugin levels");
    noise = std::max(noise, f.noise / p.noise);
    structure = std::max(structure, f.structure / p.structure);
    hot = std::max(hot, f.hot_residual / p.hot_residual);
  }
  std::printf(
      "fit against the plug-in's levels, worst light: noise %.3f, structure %.3f, "
      "hot-pixel residual %.3f\n",
      noise, structure, hot);
}

bool exists(const std::string& path) {
  return opendir(path.c_str()) != nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  std::string data =
      std::getenv("TENVORA_REALDATA") ? std::getenv("TENVORA_REALDATA") : "../shared/realdata";
  for (int k = 1; k + 1 < argc; ++k)
    if (std::string(argv[k]) == "--data") data = argv[k + 1];
  const std::string stl = data + "/ccd-stl1001e", st402 = data + "/ccd-st402";
  if (!exists(stl) || !exists(st402)) {
    std::fprintf(stderr,
                 "real_frames: NO REAL FRAMES at %s (ccd-stl1001e and ccd-st402 expected): "
                 "nothing measured; give --data DIR or set TENVORA_REALDATA\n",
                 data.c_str());
    return 77;
  }

  {
    const Frame bias = median_frame(fits_in(stl + "/bias_m5C"));
    const std::vector<std::string> darks = fits_in(stl + "/darks_60s_x10_m5C");
    const double dark_time = exposure_of(darks[0]);
    const DarkSet set = split_dark_set(median_frame(darks), bias, 1, false);
    const std::vector<size_t> bright = brightest(set.dark, bias, set.dark_saturation);
    std::vector<Row> rows;
    for (const std::string& light : fits_in(stl + "/darks_series_m5C"))
      rows.push_back(run_light(light, set, set, exposure_of(light) / dark_time, bright));
    std::printf("ccd-stl1001e (%d x %d), master dark %g s, master bias\n", set.frame.width,
                set.frame.height, dark_time);
    print_rows(rows);
    print_summary("ccd-stl1001e", rows);
    print_against_plugin(rows);
  }

  {
    const Frame m240 = median_frame(fits_in(st402 + "/darks_240s"));
    const Frame m1200 = median_frame(fits_in(st402 + "/darks_1200s"));
    std::vector<double> zero;
    for (size_t i = 0; i < m240.pixels.size(); ++i)
      zero.push_back(m240.pixels[i] - 240.0 * (m1200.pixels[i] - m240.pixels[i]) / 960.0);
    const float z = static_cast<float>(median_of(zero));
    const Frame pedestal{m240.width, m240.height, Pixels(m240.pixels.size(), z), m240.storage};
    std::vector<Row> rows;
    const struct {
      const char* lights;
      const Frame* master;
      double ratio;
    } cases[] = {{"/lights_240s", &m1200, 240.0 / 1200.0}, {"/lights_1200s", &m240, 5.0}};
    for (const auto& c : cases) {
      const DarkSet set = split_dark_set(*c.master, Frame{}, 0, false);
      const DarkSet truth = split_dark_set(*c.master, pedestal, 1, false);
      const std::vector<size_t> bright = brightest(*c.master, pedestal, set.dark_saturation);
      for (const std::string& light : fits_in(st402 + c.lights))
        rows.push_back(run_light(light, set, truth, c.ratio, bright));
    }
    std::printf("\nccd-st402 (%d x %d), no bias, zero level %.1f ADU\n", m240.width, m240.height,
                z);
    print_rows(rows);
    print_summary("ccd-st402", rows);
    print_against_plugin(rows);
  }
  return 0;
}
