// tenvora-master on small frames: the master against a direct in-memory
// reference of the rule for every method, frame count, strip height and
// job count; and the frames it refuses or warns about.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <sstream>
#include <tuple>

#include "fits/fits_io.h"
#include "fits/frame_list.h"
#include "tests/cli/temp_dir.h"
#include "tools/tenvora_master/master_main.h"
#include "tools/tenvora_match/light_list.h"

namespace {

constexpr int32_t kWidth = 23, kHeight = 17;  // an odd width: partial groups of pixels

struct MasterRun {
  int status;
  std::string out, err;
};

MasterRun run_master(const std::vector<std::string>& args) {
  std::ostringstream out, err;
  const int status = master_main(args, out, err);
  return {status, out.str(), err.str()};
}

// Raw-looking frames: whole ADU around 1000 with noise, outliers in some
// pixels (hot pixels, cosmic rays), a few pixels alike in every frame (no
// spread), some NaN pixels and one pixel NaN in every frame.
std::vector<Frame> raw_frames(int count, uint32_t seed) {
  uint32_t state = seed;
  const auto uniform = [&state]() {
    state = state * 1664525u + 1013904223u;
    return static_cast<float>(state >> 8) / 16777216.0f;
  };
  std::vector<Frame> frames;
  for (int f = 0; f < count; ++f) {
    Frame frame{kWidth, kHeight, {}};
    for (int32_t i = 0; i < kWidth * kHeight; ++i) {
      float v = 1000.0f + std::round(12.0f * (uniform() + uniform() + uniform() - 1.5f));
      if (i % 37 == 5) v = 1000.0f;
      if (uniform() < 0.05f) v += 400.0f * uniform();
      if (i % 53 == 7 && f % 3 == 0) v = NAN;
      if (i == 11) v = NAN;
      frame.pixels.push_back(v);
    }
    frames.push_back(std::move(frame));
  }
  return frames;
}

// The rule as the README writes it, one pixel at a time.
float reference_pixel(std::vector<double> values, const std::string& method, double kappa) {
  values.erase(
      std::remove_if(values.begin(), values.end(), [](double v) { return !std::isfinite(v); }),
      values.end());
  if (values.empty()) return NAN;
  std::sort(values.begin(), values.end());
  const auto median = [](std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return 0.5 * (v[(v.size() - 1) / 2] + v[v.size() / 2]);
  };
  const auto mean = [](const std::vector<double>& v) {
    double sum = 0.0;
    for (double x : v) sum += x;
    return sum / v.size();
  };
  if (method == "median") return static_cast<float>(median(values));
  if (method == "mean") return static_cast<float>(mean(values));
  for (int round = 0; round < 5 && values.size() >= 3; ++round) {
    const double m = median(values);
    std::vector<double> deviations;
    for (double v : values) deviations.push_back(std::abs(v - m));
    const double limit = kappa * 1.4826 * median(deviations);
    if (limit == 0.0) break;
    std::vector<double> kept;
    for (double v : values)
      if (std::abs(v - m) <= limit) kept.push_back(v);
    if (kept.size() == values.size()) break;
    values = kept;
  }
  return static_cast<float>(mean(values));
}

// Frames summed in their file order, for the mean.
std::vector<float> reference_master(const std::vector<Frame>& frames, const std::string& method) {
  std::vector<float> master;
  for (size_t i = 0; i < frames[0].pixels.size(); ++i) {
    std::vector<double> values;
    for (const Frame& f : frames) values.push_back(f.pixels[i]);
    master.push_back(reference_pixel(values, method, 3.0));
  }
  return master;
}

std::vector<FitsKey> dark_keys(double exptime, double ccd_temp, const std::string& date) {
  return {text_key("IMAGETYP", "Dark Frame", ""), double_key("EXPTIME", exptime, ""),
          double_key("CCD-TEMP", ccd_temp, ""), text_key("DATE-OBS", date, ""),
          text_key("INSTRUME", "test camera", "")};
}

// frame_00.fits, frame_01.fits ... in dir.
std::vector<std::string> write_frames(const TempDir& dir, const std::vector<Frame>& frames) {
  std::vector<std::string> paths;
  for (size_t f = 0; f < frames.size(); ++f) {
    paths.push_back(dir / ("frame_" + std::to_string(10 + f) + ".fits"));
    write_fits(paths.back(), frames[f],
               dark_keys(60.0, -5.0 + 0.1 * f, "2017-09-08T20:" + std::to_string(30 + f)));
  }
  return paths;
}

std::vector<uint32_t> bits_of(const float* values, size_t count) {
  std::vector<uint32_t> bits(count);
  std::memcpy(bits.data(), values, count * sizeof(float));
  return bits;
}

using CombineCase = std::tuple<std::string, int, int, int>;  // method, frames, strip rows, jobs

class MasterTable : public ::testing::TestWithParam<CombineCase> {};

TEST_P(MasterTable, IsTheReferenceBitForBit) {
  const auto& [method, count, strip_rows, jobs] = GetParam();
  TempDir dir;
  const std::vector<Frame> frames = raw_frames(count, 17u + count);
  std::vector<std::string> args = write_frames(dir, frames);
  args.insert(args.end(),
              {"--out", dir / "master.fits", "--method", method, "--jobs", std::to_string(jobs)});
  if (strip_rows > 0) args.insert(args.end(), {"--strip-rows", std::to_string(strip_rows)});
  const MasterRun run = run_master(args);
  ASSERT_EQ(run.status, 0) << run.err;
  const Frame master = read_fits(dir / "master.fits");
  const std::vector<float> expected = reference_master(frames, method);
  EXPECT_EQ(bits_of(master.pixels.data(), master.pixels.size()),
            bits_of(expected.data(), expected.size()));
}

INSTANTIATE_TEST_SUITE_P(MethodsCountsStripsJobs, MasterTable,
                         ::testing::Combine(::testing::Values("sigma-clip", "median", "mean"),
                                            ::testing::Values(1, 2, 3, 20),
                                            ::testing::Values(0, 1, 5), ::testing::Values(1, 3)),
                         [](const auto& info) {
                           std::string name = std::get<0>(info.param) + "_" +
                                              std::to_string(std::get<1>(info.param)) +
                                              "frames_rows" +
                                              std::to_string(std::get<2>(info.param)) + "_jobs" +
                                              std::to_string(std::get<3>(info.param));
                           std::replace(name.begin(), name.end(), '-', '_');
                           return name;
                         });

std::vector<std::string> cards_of(const std::string& path) {
  std::vector<std::string> cards;
  read_fits(path, kDefaultMaxPixels, &cards);
  return cards;
}

std::string card_value(const std::vector<std::string>& cards, const std::string& key) {
  for (const std::string& card : cards)
    if (card_keyword(card) == key) return card.substr(10, 30);
  return "";
}

// With a bias: each frame less the bias, then the rule; and the header.
TEST(Master, TakesTheBiasFromEachFrameAndSaysSoInItsHeader) {
  TempDir dir;
  std::vector<Frame> frames = raw_frames(5, 3u);
  std::vector<std::string> args = write_frames(dir, frames);
  const Frame bias = ramp_frame(kWidth, kHeight, 900.0f, 0.25f);
  write_fits(dir / "bias.fits", bias, {});
  args.insert(args.end(), {"--out", dir / "dark.fits", "--bias", dir / "bias.fits"});
  const MasterRun run = run_master(args);
  ASSERT_EQ(run.status, 0) << run.err;
  for (Frame& f : frames)
    for (size_t i = 0; i < f.pixels.size(); ++i) f.pixels[i] -= bias.pixels[i];
  const std::vector<float> expected = reference_master(frames, "sigma-clip");
  const Frame master = read_fits(dir / "dark.fits");
  EXPECT_EQ(bits_of(master.pixels.data(), master.pixels.size()),
            bits_of(expected.data(), expected.size()));
  const std::vector<std::string> cards = cards_of(dir / "dark.fits");
  EXPECT_EQ(card_value(cards, "IMAGETYP").substr(0, 13), "'Master Dark'");
  EXPECT_EQ(std::stoi(card_value(cards, "NCOMBINE")), 5);
  EXPECT_EQ(std::stod(card_value(cards, "EXPTIME")), 60.0);
  EXPECT_NEAR(std::stod(card_value(cards, "CCD-TEMP")), -4.8, 1e-9);
  EXPECT_NEAR(std::stod(card_value(cards, "CCDTSPRD")), 0.4, 1e-9);
  EXPECT_EQ(card_value(cards, "DATE-OBS").substr(0, 18), "'2017-09-08T20:30'");
  EXPECT_EQ(card_value(cards, "INSTRUME").substr(0, 13), "'test camera'");
  EXPECT_EQ(card_value(cards, "BIASFILE").substr(0, 11), "'bias.fits'");
  EXPECT_EQ(std::count_if(cards.begin(), cards.end(),
                          [](const std::string& c) { return c.rfind("HISTORY frame ", 0) == 0; }),
            5);
}

struct FrameCase {
  const char* name;
  // Changes the frames written (5 alike) before the run; may add arguments.
  std::function<void(const TempDir&, std::vector<std::string>& args)> prepare;
  int status;
  std::string stderr_part;  // "@" stands for the directory
};

class MasterFrames : public ::testing::TestWithParam<FrameCase> {};

void write_text(const std::string& path, const std::string& text) {
  std::ofstream(path) << text;
}

TEST_P(MasterFrames, AreRefusedOrWarnedAbout) {
  const FrameCase& c = GetParam();
  TempDir dir;
  mkdir((dir / "in").c_str(), 0777);
  std::vector<Frame> frames = raw_frames(5, 9u);
  for (size_t f = 0; f < frames.size(); ++f)
    write_fits(dir / ("in/f" + std::to_string(f) + ".fits"), frames[f],
               dark_keys(60.0, -5.0, "2017-09-08"));
  std::vector<std::string> args = {"--out", dir / "master.fits", dir / "in"};
  c.prepare(dir, args);
  std::set<std::string> expected_files = list_dir(dir.path());
  const MasterRun run = run_master(args);
  EXPECT_EQ(run.status, c.status) << run.err;
  std::string expected = c.stderr_part;
  for (size_t at; (at = expected.find('@')) != std::string::npos;)
    expected.replace(at, 1, dir.path());
  EXPECT_NE(run.err.find(expected), std::string::npos) << run.err;
  if (c.status == 0) expected_files.insert("master.fits");
  EXPECT_EQ(list_dir(dir.path()), expected_files) << "nothing but the master is written";
  if (c.status != 0) {
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
  }
}

void rewrite(const TempDir& dir, const std::string& name, const Frame& frame,
             const std::vector<FitsKey>& keys) {
  unlink((dir / ("in/" + name)).c_str());
  write_fits(dir / ("in/" + name), frame, keys);
}

INSTANTIATE_TEST_SUITE_P(Cases, MasterFrames,
                         ::testing::Values(
                             FrameCase{"ok", [](const TempDir&, std::vector<std::string>&) {}, 0,
                                       ""},
                             FrameCase{"size_refused",
                                       [](const TempDir& d, std::vector<std::string>&) {
                                         rewrite(d, "f3.fits",
                                                 ramp_frame(kWidth, kHeight + 1, 0, 1),
                                                 dark_keys(60.0, -5.0, "2017-09-08"));
                                       },
                                       2,
                                       "@/in/f3.fits: is 23 x 18, the first frame @/in/f0.fits "
                                       "23 x 17"},
                             FrameCase{"binning_refused",
                                       [](const TempDir& d, std::vector<std::string>&) {
                                         std::vector<FitsKey> keys =
                                             dark_keys(60.0, -5.0, "2017-09-08");
                                         keys.push_back(integer_key("XBINNING", 2, ""));
                                         rewrite(d, "f2.fits", raw_frames(1, 4u)[0], keys);
                                       },
                                       2,
                                       "@/in/f2.fits: XBINNING 2 differs from the first "
                                       "frame's none"},
                             FrameCase{"exposure_warned",
                                       [](const TempDir& d, std::vector<std::string>&) {
                                         rewrite(d, "f1.fits", raw_frames(1, 4u)[0],
                                                 dark_keys(30.0, -5.0, "x"));
                                       },
                                       0,
                                       "tenvora-master: @/in/f1.fits: warning header-differs: "
                                       "EXPTIME 30 differs "
                                       "from the first frame's 60"},
                             FrameCase{
                                 "exposure_refused",
                                 [](const TempDir& d, std::vector<std::string>& args) {
                                   rewrite(d, "f1.fits", raw_frames(1, 4u)[0],
                                           dark_keys(30.0, -5.0, "x"));
                                   args.push_back("--refuse-mismatch");
                                 },
                                 2, "@/in/f1.fits: EXPTIME 30 differs from the first frame's 60"},
                             FrameCase{"light_leak_warned",
                                       [](const TempDir& d, std::vector<std::string>&) {
                                         Frame leak = raw_frames(1, 4u)[0];
                                         for (float& v : leak.pixels) v += 50.0f;
                                         rewrite(d, "f4.fits", leak, dark_keys(60.0, -5.0, "x"));
                                       },
                                       0, "@/in/f4.fits: warning level-differs: median 1050"},
                             FrameCase{"unreadable_frame_named",
                                       [](const TempDir& d, std::vector<std::string>&) {
                                         write_text(d / "in/f9.fits", "not a FITS file at all");
                                       },
                                       2, "tenvora-master: @/in/f9.fits: not a FITS file"},
                             FrameCase{
                                 "truncated_gzip_named",
                                 [](const TempDir& d, std::vector<std::string>&) {
                                   std::ifstream in(d / "in/f0.fits", std::ios::binary);
                                   std::string bytes((std::istreambuf_iterator<char>(in)), {});
                                   bytes.resize(bytes.size() - 2880 + 200);
                                   gzFile gz = gzopen((d / "in/f5.fits.gz").c_str(), "wb");
                                   gzwrite(gz, bytes.data(), static_cast<unsigned>(bytes.size()));
                                   gzclose(gz);
                                 },
                                 2, "@/in/f5.fits.gz: is truncated"},
                             FrameCase{"kind_unknown_refused",
                                       [](const TempDir& d, std::vector<std::string>&) {
                                         rewrite(d, "f2.fits", raw_frames(1, 4u)[0], {});
                                       },
                                       2,
                                       "@/in/f2.fits: has no IMAGETYP, which says neither bias "
                                       "nor dark"},
                             FrameCase{"kind_given_warns_of_a_light",
                                       [](const TempDir& d, std::vector<std::string>& args) {
                                         rewrite(d, "f2.fits", raw_frames(1, 4u)[0],
                                                 {text_key("IMAGETYP", "Light Frame", ""),
                                                  double_key("EXPTIME", 60.0, "")});
                                         args.insert(args.end(), {"--kind", "dark"});
                                       },
                                       0,
                                       "@/in/f2.fits: warning other-kind: IMAGETYP 'Light Frame'"},
                             FrameCase{"bias_of_another_size",
                                       [](const TempDir& d, std::vector<std::string>& args) {
                                         write_fits(d / "bias.fits", ramp_frame(5, 5, 0, 1), {});
                                         args.insert(args.end(), {"--bias", d / "bias.fits"});
                                       },
                                       2, "@/bias.fits: is 5 x 5, the frames 23 x 17"},
                             FrameCase{"folder_without_frames",
                                       [](const TempDir& d, std::vector<std::string>& args) {
                                         mkdir((d / "empty").c_str(), 0777);
                                         args.back() = d / "empty";
                                       },
                                       2, "tenvora-master: BIAS/DARK: no bias/dark frames found"},
                             FrameCase{"output_exists",
                                       [](const TempDir& d, std::vector<std::string>&) {
                                         write_text(d / "master.fits", "mine");
                                       },
                                       2, "master.fits"},
                             FrameCase{
                                 "bad_kappa",
                                 [](
                                     const TempDir&,
                                     std::vector<std::string>&
                                         args) { args.insert(args.end(), {"--kappa", "0.5"}); },
                                 2,
                                 "tenvora-master: --kappa: '0.5' is not a number from 1 to "
                                 "100"},
                             // The command line as tenvora-match reads it.
                             FrameCase{"flag_given_twice",
                                       [](const TempDir&, std::vector<std::string>& args) {
                                         args.insert(args.end(), {"--json", "--json"});
                                       },
                                       2, "tenvora-master: --json: given twice"},
                             FrameCase{
                                 "option_given_twice",
                                 [](const TempDir&, std::vector<std::string>& args) {
                                   args.insert(args.end(), {"--kind", "bias", "--kind", "dark"});
                                 },
                                 2, "tenvora-master: --kind: given twice"},
                             FrameCase{"empty_value",
                                       [](const TempDir&, std::vector<std::string>& args) {
                                         args.insert(args.end(), {"--kappa", ""});
                                       },
                                       2, "tenvora-master: --kappa: needs a value"},
                             FrameCase{"value_missing_at_the_end",
                                       [](const TempDir&, std::vector<std::string>& args) {
                                         args.push_back("--method");
                                       },
                                       2, "tenvora-master: --method: needs a value"},
                             FrameCase{"unknown_option",
                                       [](const TempDir&, std::vector<std::string>& args) {
                                         args.insert(args.end(), {"--kapa", "3"});
                                       },
                                       2, "tenvora-master: --kapa: unknown option (see --help)"}),
                         [](const auto& info) { return std::string(info.param.name); });

// A master written among its frames is left out of the next scan of the
// folder, by tenvora-master and by tenvora-match's scan of lights.
TEST(Master, OutputsAreLeftOutOfFolderScans) {
  TempDir dir;
  write_frames(dir, raw_frames(4, 5u));
  ASSERT_EQ(run_master({"--out", dir / "master.fits", dir.path()}).status, 0);
  const MasterRun again = run_master({"--out", dir / "master2.fits", "--json", dir.path()});
  ASSERT_EQ(again.status, 0) << again.err;
  EXPECT_EQ(nlohmann::json::parse(again.out)["frames"].size(), 4u);
  EXPECT_EQ(expand_lights({dir.path()}, {}).size(), 4u);
}

}  // namespace
