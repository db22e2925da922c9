// The files hold exactly the planes the plug-in makes in the in-process host,
// with the header keywords, and the ratios in the header are the scales the
// outputs were made with.
#include <fitsio.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <random>
#include <regex>
#include <sstream>
#include <thread>

#include "fits/output_keywords.h"
#include "fits/staged_files.h"
#include "fits/tool_error.h"
#include "plugin/plugin_state.h"
#include "testhost/driver.h"
#include "tests/cli/cli_run.h"
#include "tools/tenvora_match/frame_units.h"
#include "tools/tenvora_match/match_files.h"
#include "tools/tenvora_match/match_frames.h"
#include "tools/tenvora_match/preview_png.h"

namespace {

auto nothing = [](const TempDir&) {};

struct Mode {
  const char* name;
  bool bias;
  int factor;
  bool subtract;
};

class Outputs : public ::testing::TestWithParam<Mode> {};

// The plug-in run directly in the host emulation, with the driver.
struct DirectRun {
  testhost::HostEmulation host;
  std::vector<const testhost::HostImage*> made;
  BlockAnchor anchor;
  HotPixelList hot_pixels;
};

void run_directly(const DemoSet& set, const Mode& m, DirectRun& run) {
  auto add = [&](const char* title, const Frame& f) {
    return run.host.add_image(title, f.width, f.height, {f.pixels.begin(), f.pixels.end()});
  };
  const ImageHandle light = add("light.fits", set.light), dark = add("dark.fits", set.dark);
  std::string text =
      "choose light " + std::to_string(light) + "\nchoose dark " + std::to_string(dark) + "\n";
  if (m.bias)
    text += "toggle-bias\nchoose bias " + std::to_string(add("bias.fits", set.bias)) + "\ntype " +
            std::to_string(m.factor) + "\n";
  text += m.subtract ? "subtract on\ngo\n" : "go\n";
  std::vector<testhost::Step> steps;
  std::string error;
  ASSERT_TRUE(testhost::parse_scenario(text, steps, error)) << error;
  const size_t inputs = run.host.images().size();
  testhost::Session session = testhost::start_session("test");
  const testhost::Activation activation = testhost::activate(session, run.host, light, steps);
  testhost::end_session(session);
  ASSERT_EQ(activation.result, 1);
  run.anchor = plugin_state.darkest_block;
  run.hot_pixels = plugin_state.hot_pixels;
  for (size_t k = inputs; k < run.host.images().size(); ++k)
    run.made.push_back(&run.host.images()[k]);
}

struct Header {
  fitsfile* file = nullptr;
  int status = 0;
  explicit Header(const std::string& path) {
    fits_open_diskfile(&file, path.c_str(), READONLY, &status);
  }
  ~Header() {
    int ignored = 0;
    fits_close_file(file, &ignored);
  }
  std::string text(const char* key) {
    char value[FLEN_VALUE] = {};
    fits_read_key(file, TSTRING, key, value, nullptr, &status);
    return value;
  }
  template <typename T>
  T number(const char* key, int type) {
    T value{};
    fits_read_key(file, type, key, &value, nullptr, &status);
    return value;
  }
};

template <class A, class B>
bool same_bits(const A& a, const B& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

TEST_P(Outputs, EqualThePluginsPlanesBitForBitAndCarryTheirLevels) {
  const Mode& m = GetParam();
  TempDir dir;
  const DemoSet set = write_small_set(dir);
  std::vector<std::string> args = {"--light",   dir / "light.fits", "--dark",   dir / "dark.fits",
                                   "--out-dir", dir / "out",        "--method", "plugin"};
  if (m.bias)
    args.insert(args.end(),
                {"--bias", dir / "bias.fits", "--bias-factor", std::to_string(m.factor)});
  if (m.subtract) args.push_back("--subtract");
  const CliRun cli = run_cli(args);
  ASSERT_EQ(cli.status, 0) << cli.err;

  DirectRun direct;
  run_directly(set, m, direct);
  ASSERT_EQ(direct.made.size(), m.subtract ? 4u : 3u);
  float glow_ratio = 0, hot_ratio = 0;
  for (const testhost::HostImage* image : direct.made) {
    const std::string path = dir / ("out/light_" + output_kind(image->title) + ".fits");
    EXPECT_TRUE(same_bits(read_fits(path).pixels, image->pixels)) << path;
    Header h(path);
    namespace k = output_keyword;
    EXPECT_EQ(h.text(k::title.name), image->title);
    EXPECT_EQ(h.text(k::light_file.name), "light.fits");
    EXPECT_EQ(h.text(k::dark_file.name), "dark.fits");
    if (m.bias) {
      EXPECT_EQ(h.text(k::bias_file.name), "bias.fits");
      EXPECT_EQ(h.number<long>(k::bias_factor.name, TLONG), m.factor);
    }
    for (const OutputKeyword* key : {&k::glow_light, &k::glow_dark, &k::hot_light, &k::hot_dark})
      h.number<double>(key->name, TDOUBLE);
    glow_ratio = h.number<float>(k::glow_ratio.name, TFLOAT);
    hot_ratio = h.number<float>(k::hot_ratio.name, TFLOAT);
    EXPECT_EQ(h.number<long>(k::block_x.name, TLONG), direct.anchor.x);
    EXPECT_EQ(h.number<long>(k::block_y.name, TLONG), direct.anchor.y);
    // Steps done only on the corrected light, and a bias only with a factor.
    const std::string steps = h.text(k::steps.name);
    if (output_kind(image->title) == "corrected")
      EXPECT_EQ(steps, m.bias && m.factor > 0 ? "BD" : "D");
    else
      EXPECT_EQ(h.status, KEY_NO_EXIST);
    h.status = 0;
    EXPECT_EQ(h.text("OBJECT"), "") << "no OBJECT of ours";
    EXPECT_EQ(h.status, KEY_NO_EXIST);
    h.status = 0;
    EXPECT_EQ(h.status, 0) << path;
  }

  // The glow image as first shown holds the unscaled glow component; the hot
  // component is the rest of the dark (less the bias).
  const testhost::HostImage& glow = *direct.made[0];
  const testhost::HostImage& hot = *direct.made[1];
  ASSERT_FALSE(glow.shown.empty());
  const std::vector<float>& glow_component = glow.shown.front();
  for (size_t i = 0; i < glow_component.size(); ++i) {
    float dark = set.dark.pixels[i];
    if (m.bias) dark -= set.bias.pixels[i];
    const float hot_component = dark - glow_component[i];
    ASSERT_EQ(glow.pixels[i], glow_ratio * glow_component[i]) << i;
    ASSERT_EQ(hot.pixels[i], hot_ratio * hot_component) << i;
  }
}

// Frames of ordinary values with NaN of every payload, infinities, zeros of
// either sign and subnormals among them, as bit patterns.
Frame special_frame(int32_t width, int32_t height, std::mt19937& random) {
  Frame frame{width, height, Pixels(size_t(width) * size_t(height))};
  for (float& pixel : frame.pixels) {
    uint32_t bits = uint32_t(random());
    if (random() % 4 != 0) {
      const float value = float(random() % 2000) * 0.25f;
      std::memcpy(&bits, &value, sizeof bits);
    } else if (random() % 2 == 0) {
      bits |= 0x7f800000u;  // infinity or NaN, any payload and sign
    }
    std::memcpy(&pixel, &bits, sizeof bits);
  }
  return frame;
}

// The tool's path in memory against the plug-in in the host, driven through
// its entry points and dialog: the same images bit for bit, NaN payloads
// included, and the same searches' records. The tool matches its frames on
// threads of their own, all at once, as a batch would.
TEST_P(Outputs, InMemoryEqualThePluginsImagesBitForBit) {
  const Mode& m = GetParam();
  std::mt19937 random(11);
  std::vector<DemoSet> sets;
  for (const auto& [width, height] : {std::pair{48, 40}, std::pair{37, 29}, std::pair{5, 3}})
    sets.push_back({special_frame(width, height, random), special_frame(width, height, random),
                    special_frame(width, height, random)});
  std::vector<MatchedFrames> tool(sets.size());
  std::vector<std::thread> threads;
  for (size_t n = 0; n < sets.size(); ++n) {
    threads.emplace_back([&, n] {
      const DarkSet set =
          split_dark_set(sets[n].dark, m.bias ? sets[n].bias : Frame{}, m.factor, m.subtract);
      tool[n] = match_light(sets[n].light, set, true, NAN, MatchMethod::plugin);
    });
  }
  for (std::thread& thread : threads) thread.join();

  for (size_t n = 0; n < sets.size(); ++n) {
    DirectRun direct;
    run_directly(sets[n], m, direct);
    ASSERT_EQ(tool[n].images.size(), direct.made.size());
    for (size_t k = 0; k < direct.made.size(); ++k) {
      EXPECT_EQ(tool[n].images[k].title, direct.made[k]->title);
      EXPECT_TRUE(same_bits(tool[n].images[k].frame.pixels, direct.made[k]->pixels))
          << direct.made[k]->title << ", frame " << n;
    }
    const Measurement& levels = tool[n].levels;
    EXPECT_EQ(levels.darkest_block.x, direct.anchor.x);
    EXPECT_EQ(levels.darkest_block.y, direct.anchor.y);
    EXPECT_EQ(std::memcmp(&levels.hot_pixels, &direct.hot_pixels, sizeof direct.hot_pixels), 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Modes, Outputs,
                         ::testing::Values(Mode{"no_bias", false, 0, false},
                                           Mode{"no_bias_subtract", false, 0, true},
                                           Mode{"bias_factor_2_subtract", true, 2, true},
                                           Mode{"bias_factor_0", true, 0, false}),
                         [](const auto& info) { return std::string(info.param.name); });

float from_bits(uint32_t bits) {
  float f;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}

// Infinities, -0.0, subnormals and NaNs with payloads reach the plug-in as
// stored, so the tool's outputs equal the plug-in's in the host; so do they
// from tile-compressed inputs, and into --compress outputs.
TEST(SpecialFloats, ReachThePluginAsStored) {
  const float specials[] = {INFINITY,
                            -INFINITY,
                            -0.0f,
                            from_bits(1),
                            from_bits(0x807fffff),
                            from_bits(0x7fc12345),
                            from_bits(0xff800001),
                            from_bits(0x7f800abc)};
  TempDir dir;
  DemoSet set = write_small_set(dir);
  for (Frame* f : {&set.light, &set.dark})
    for (size_t k = 0; k < std::size(specials); ++k) f->pixels[40 + 97 * k] = specials[k];
  DirectRun direct;
  run_directly(set, Mode{"special", false, 0, true}, direct);
  ASSERT_EQ(direct.made.size(), 4u);
  for (const std::string extension : {".fits", ".fits.fz"}) {
    const bool compress = extension != ".fits";
    const std::string light = dir / ("l" + extension), dark = dir / ("d" + extension);
    write_fits(light, set.light, {}, FLOAT_IMG, {}, compress);
    write_fits(dark, set.dark, {}, FLOAT_IMG, {}, compress);
    std::vector<std::string> args = {"--light",    light,       "--dark",    dark,
                                     "--subtract", "--out-dir", dir / "out", "--overwrite",
                                     "--method",   "plugin"};
    if (compress) args.push_back("--compress");
    ASSERT_EQ(run_cli(args).status, 0) << extension;
    for (const testhost::HostImage* image : direct.made)
      EXPECT_TRUE(
          same_bits(read_fits(dir / ("out/l_" + output_kind(image->title) + extension)).pixels,
                    image->pixels))
          << image->title << extension;
  }
}

// Folders take tile-compressed lights; --compress writes .fits.fz outputs
// that hold the plain run's pixels and that the next run over the folder
// leaves out.
TEST(Compressed, LightsInFoldersAndOutputs) {
  TempDir dir;
  const DemoSet set = write_small_set(dir);
  mkdir((dir / "night").c_str(), 0777);
  fitsfile* file = nullptr;
  int status = 0;
  long axes[2] = {set.light.width, set.light.height};
  const std::vector<unsigned short> adu(set.light.pixels.begin(), set.light.pixels.end());
  fits_create_file(&file, ((dir / "night/m1.FITS.FZ") + "[compress R]").c_str(), &status);
  fits_create_img(file, USHORT_IMG, 2, axes, &status);
  fits_write_key_dbl(file, "EXPTIME", 60, -6, "", &status);
  fits_write_img(file, TUSHORT, 1, adu.size(), const_cast<unsigned short*>(adu.data()), &status);
  fits_close_file(file, &status);
  ASSERT_EQ(status, 0);
  const Frame plain{set.light.width, set.light.height,
                    Pixels(adu.begin(), adu.end())};  // the light as the camera stored it
  write_fits(dir / "night/m2.fits", plain, {double_key("EXPTIME", 60, "")}, USHORT_IMG);
  mkdir((dir / "plain").c_str(), 0777);
  for (int run = 0; run < 2; ++run) {
    const CliRun fz = run_cli({"--dark", dir / "dark.fits", "--out-dir", dir / "night",
                               "--compress", "--overwrite", dir / "night"});
    ASSERT_EQ(fz.status, 0) << fz.err;
    EXPECT_NE(fz.out.find("2 of 2 lights matched"), std::string::npos) << fz.out;
  }
  ASSERT_EQ(
      run_cli({"--dark", dir / "dark.fits", "--out-dir", dir / "plain", dir / "night"}).status, 0);
  EXPECT_EQ(list_dir(dir / "plain"), (std::set<std::string>{"m1_matched.fits", "m2_matched.fits"}));
  for (const char* stem : {"m1", "m2"}) {
    const std::string name = std::string(stem) + "_matched.fits";
    EXPECT_TRUE(same_bits(read_fits(dir / ("night/" + name + ".fz")).pixels,
                          read_fits(dir / ("plain/" + name)).pixels))
        << name;
    Header h(dir / ("night/" + name + ".fz"));
    EXPECT_EQ(h.text(output_keyword::creator.name), "tenvora-match " TENVORA_VERSION);
    fits_movabs_hdu(h.file, 2, nullptr, &h.status);  // the image's HDU: the light's cards
    EXPECT_EQ(h.number<double>("EXPTIME", TDOUBLE), 60.0);
    EXPECT_EQ(h.text(output_keyword::light_file.name),
              std::string(stem) + (stem[1] == '1' ? ".FITS.FZ" : ".fits"));
    EXPECT_EQ(h.status, 0);
  }
}

std::string file_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), {});
}

TEST(Overwrite, ExistingOutputsAreReplacedOnlyWhenAsked) {
  TempDir dir;
  write_small_set(dir);
  const std::vector<std::string> plain = {"--light",         dir / "light.fits", "--dark",
                                          dir / "dark.fits", "--out-dir",        dir / "out"};
  ASSERT_EQ(run_cli(plain).status, 0);
  const std::string first = file_bytes(dir / "out/light_matched.fits");

  std::vector<std::string> with_bias = plain;
  with_bias.insert(with_bias.end(), {"--bias", dir / "bias.fits"});
  EXPECT_EQ(run_cli(with_bias).status, 2);
  EXPECT_EQ(file_bytes(dir / "out/light_matched.fits"), first);

  with_bias.push_back("--overwrite");
  ASSERT_EQ(run_cli(with_bias).status, 0);
  EXPECT_EQ(Header(dir / "out/light_matched.fits").text(output_keyword::title.name),
            "Matched Dark Frame + Bias");
  EXPECT_EQ(list_dir(dir / "out"),
            (std::set<std::string>{"light_glow.fits", "light_hot.fits", "light_matched.fits"}));
}

// Sets are placed without replacing what appeared meanwhile: the whole set
// is withdrawn, and --overwrite replaces.
TEST(Placement, NeverReplacesWithoutOverwrite) {
  TempDir dir;
  for (bool overwrite : {false, true}) {
    StagedFiles staged(dir.path());
    for (const char* name : {"a.fits", "b.fits"})
      staged.write(name, [](const std::string& path) { std::ofstream(path) << "new"; });
    std::ofstream(dir / "b.fits") << "theirs";
    if (overwrite) {
      staged.commit(true, {});
      EXPECT_EQ(file_bytes(dir / "a.fits") + file_bytes(dir / "b.fits"), "newnew");
    } else {
      EXPECT_THROW(staged.commit(false, {}), ToolError);
      EXPECT_EQ(file_bytes(dir / "b.fits"), "theirs");
    }
  }
  EXPECT_EQ(list_dir(dir.path()), (std::set<std::string>{"a.fits", "b.fits"}));
}

// SIGTERM in the middle of a run removes its staged files.
TEST(Placement, InterruptionRemovesStagedFiles) {
  TempDir dir;
  const pid_t child = fork();
  if (child == 0) {
    remove_staged_files_on_interrupt();
    StagedFiles staged(dir.path());
    staged.write("a.fits", [](const std::string& path) {
      std::ofstream(path) << "partial";
      kill(getpid(), SIGTERM);
    });
    pause();
    _exit(0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
  EXPECT_TRUE(list_dir(dir.path()).empty());
}

// Frames wider than a PNG may be are shrunk to fit 2048 pixels.
TEST(Previews, OfLargeFramesAreShrunk) {
  TempDir dir;
  write_preview_png(dir / "wide.png", ramp_frame(5000, 3, 0.0f, 1.0f));
  const std::string png = file_bytes(dir / "wide.png");
  auto be32 = [&png](size_t at) {
    return (uint32_t(uint8_t(png[at])) << 24) | (uint32_t(uint8_t(png[at + 1])) << 16) |
           (uint32_t(uint8_t(png[at + 2])) << 8) | uint8_t(png[at + 3]);
  };
  EXPECT_EQ(be32(16), 1667u);  // 5000 / 3, rounded up
  EXPECT_EQ(be32(20), 1u);
}

TEST(Previews, AreWrittenBesideEachOutput) {
  TempDir dir;
  write_small_set(dir);
  const CliRun run = run_cli({"--light", dir / "light.fits", "--dark", dir / "dark.fits",
                              "--subtract", "--preview", "--out-dir", dir / "out"});
  ASSERT_EQ(run.status, 0) << run.err;
  for (const char* name : {"glow", "hot", "matched", "corrected"})
    EXPECT_EQ(file_bytes(dir / ("out/light_" + std::string(name) + ".png")).substr(1, 3), "PNG");
}

// A light with a header as cameras write it, unsigned 16-bit.
void write_camera_light(const std::string& path, const Frame& frame) {
  write_fits(
      path, frame,
      {double_key("EXPTIME", 120.0, "exposure"), text_key("DATE-OBS", "2026-12-01T22:10:00", ""),
       double_key("DATAMIN", 0, ""), history_key("taken at the observatory")},
      USHORT_IMG);
  fitsfile* file = nullptr;
  int status = 0;
  fits_open_diskfile(&file, path.c_str(), READWRITE, &status);
  fits_write_record(file, "HIERARCH CAMERA SENSOR TEMP = -10.5", &status);
  // A camera program's pedestal and the target, which names of ours must not take.
  fits_write_record(file, "BIAS    =                  100", &status);
  fits_write_record(file, "OBJECT  = 'M 42    '", &status);
  fits_close_file(file, &status);
  ASSERT_EQ(status, 0);
}

std::string header_text(const std::string& path) {
  const std::string bytes = file_bytes(path);
  return bytes.substr(0, bytes.find("END     "));
}

// A folder of lights in one run: outputs named after each light, equal bit
// for bit to the one-light run's, with the light's own header cards; the
// folder's dark and the tool's earlier outputs are not taken as lights, and
// a light that fails is reported and skipped. Matched several at once, the
// lights give the same files and the same summary, in the order given.
TEST(Batch, MatchesAFolderOfLightsKeepingEachHeader) {
  TempDir dir;
  DemoSet set = write_small_set(dir);
  mkdir((dir / "night").c_str(), 0777);
  write_camera_light(dir / "night/m42_0001.fits", set.light);
  for (float& p : set.light.pixels) p = std::round(p * 1.1f);
  write_camera_light(dir / "night/m42_0002.fit", set.light);
  write_fits(dir / "night/m42_0003.fits", ramp_frame(8, 8, 0, 1), {});  // another size
  std::ofstream(dir / "night/m42_0004.fits") << "not a FITS file";
  link((dir / "dark.fits").c_str(), (dir / "night/dark.fits").c_str());
  ASSERT_EQ(run_cli({"--light", dir / "night/m42_0001.fits", "--dark", dir / "dark.fits", "--bias",
                     dir / "bias.fits", "--subtract", "--out-dir", dir / "night"})
                .status,
            0);  // an earlier run's outputs in the folder
  // The one light's run scales its set's own planes into its outputs.
  const std::vector<std::string> kinds = {"corrected", "matched", "glow", "hot"};
  for (const std::string& kind : kinds)
    rename((dir / ("night/m42_0001_" + kind + ".fits")).c_str(),
           (dir / ("single_" + kind)).c_str());
  std::ofstream(dir / "lights.txt") << "# tonight\n"
                                    << dir / "night"
                                    << "\n\n";

  auto batch = [&](const std::string& out, const char* jobs, const std::string& report) {
    mkdir(out.c_str(), 0777);
    return run_cli({"--dark", dir / "dark.fits", "--bias", dir / "bias.fits", "--subtract",
                    "--outputs", "corrected,matched,glow,hot", "--out-dir", out,
                    "@" + dir / "lights.txt", "--json", "--jobs", jobs, "--report", report});
  };
  const CliRun run = batch(dir / "out", "1", dir / "night.csv");
  EXPECT_EQ(run.status, 2);
  const CliRun parallel = batch(dir / "out3", "3", dir / "night3.csv");
  EXPECT_EQ(parallel.status, 2);
  EXPECT_EQ(nlohmann::json::parse(std::regex_replace(parallel.out, std::regex("/out3/"), "/out/")),
            nlohmann::json::parse(run.out));
  for (const std::string& name : list_dir(dir / "out"))
    EXPECT_TRUE(same_bits(read_fits(dir / ("out/" + name)).pixels,
                          read_fits(dir / ("out3/" + name)).pixels))
        << name;
  EXPECT_EQ(
      list_dir(dir / "out"),
      (std::set<std::string>{"m42_0001_corrected.fits", "m42_0001_matched.fits",
                             "m42_0001_glow.fits", "m42_0001_hot.fits", "m42_0002_corrected.fits",
                             "m42_0002_matched.fits", "m42_0002_glow.fits", "m42_0002_hot.fits"}));
  for (const std::string& kind : kinds)
    EXPECT_TRUE(same_bits(read_fits(dir / ("out/m42_0001_" + kind + ".fits")).pixels,
                          read_fits(dir / ("single_" + kind)).pixels))
        << kind;
  for (const char* failed :
       {"m42_0003.fits: is 8 x 8, the dark frame 48 x 40", "m42_0004.fits: not a FITS file"}) {
    EXPECT_NE(run.err.find("tenvora-match: " + dir / "night/" + failed), std::string::npos)
        << run.err;
    EXPECT_NE(run.out.find(dir / "night/" + failed), std::string::npos) << run.out;
  }
  EXPECT_NE(run.err.find("[2/4] m42_0002.fit  glow "), std::string::npos) << run.err;

  // One report row per light matched, the header values that the light has.
  std::ifstream report(dir / "night.csv");
  std::vector<std::string> lines;
  for (std::string line; std::getline(report, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0],
            "file,date_obs,exptime,ccd_temp,glow_light,glow_dark,glow_ratio,hot_light,hot_dark,"
            "hot_ratio,exposure_ratio,darkest_x,darkest_y,noise_light,noise_corrected,"
            "negative_share,method,glow_scale,glow_error,hot_scale,hot_error,sky_level,sky_x,"
            "sky_y,fit_used,fit_clipped,fit_left_out,fit_noise,noise_fit,hot_residual_fit,"
            "noise_plugin,hot_residual_plugin,noise_exposure,hot_residual_exposure,warnings");
  EXPECT_EQ(lines[2].rfind(dir / "night/m42_0002.fit,2026-12-01T22:10:00,", 0), 0u) << lines[2];

  for (const char* name : {"m42_0002_corrected.fits", "m42_0002_matched.fits"}) {
    const std::string header = header_text(dir / ("out/" + std::string(name)));
    for (const char* kept :
         {"EXPTIME =", "DATE-OBS= '2026-12-01T22:10:00'", "HIERARCH CAMERA SENSOR TEMP = -10.5",
          "HISTORY taken at the observatory", "BIAS    =                  100",
          "OBJECT  = 'M 42    '", "LIGHTFIL= 'm42_0002.fit'", "BIASFILE= 'bias.fits'",
          "HISTORY bias bias.fits, factor 1", "HISTORY glow ratio "})
      EXPECT_NE(header.find(kept), std::string::npos) << name << ": " << kept;
    for (const char* left_out : {"BZERO", "DATAMIN", "BITPIX  =                   16"})
      EXPECT_EQ(header.find(left_out), std::string::npos) << name << ": " << left_out;
    const bool corrected = std::string(name).find("corrected") != std::string::npos;
    Header h(dir / ("out/" + std::string(name)));
    EXPECT_EQ(h.text("IMAGETYP"), corrected ? "Light Frame" : "Dark Frame");
  }
}

// A light whose levels are 25 times the dark's: a warning in the JSON
// summary, with -v on standard error as soon as the light is done, and in
// the report.
TEST(Batch, WarnsOfARatioOutOfRange) {
  TempDir dir;
  DemoSet set = write_small_set(dir);
  for (size_t i = 0; i < set.light.pixels.size(); ++i)
    set.light.pixels[i] = 25 * (set.dark.pixels[i] - set.bias.pixels[i]) + set.bias.pixels[i];
  write_fits(dir / "strong.fits", set.light, {});
  const CliRun run =
      run_cli({"--dark", dir / "dark.fits", "--bias", dir / "bias.fits", "--out-dir", dir / "out",
               dir / "strong.fits", dir / "light.fits", "--jobs", "1", "--json", "--report",
               dir / "out/night.json", "-v", "--method", "plugin"});
  ASSERT_EQ(run.status, 0) << run.err;
  // The small set leaves some grid cells without a hot pixel: warnings too.
  const nlohmann::json warnings = nlohmann::json::parse(run.out)["lights"][0]["warnings"];
  const auto warning = std::find_if(warnings.begin(), warnings.end(), [](const auto& w) {
    return w["code"] == "ratio-out-of-range";
  });
  ASSERT_NE(warning, warnings.end()) << warnings;
  EXPECT_FALSE((*warning)["numbers"].empty());
  const size_t line =
      run.err.find("tenvora-match: " + dir / "strong.fits: warning ratio-out-of-range: " +
                   (*warning)["message"].get<std::string>() + "\n");
  EXPECT_LT(line, run.err.find("[2/2] ")) << run.err;
  std::ifstream report(dir / "out/night.json");
  const nlohmann::json codes = nlohmann::json::parse(report)[0]["warnings"];
  EXPECT_NE(std::find(codes.begin(), codes.end(), "ratio-out-of-range"), codes.end()) << codes;
}

// The exposure ratio, the light's EXPTIME over the dark's (EXPTIME, else
// EXPOSURE), beside the scales in the summary (when known), its JSON and the report, and
// the warning when a scale is far from it. The small set's scales are about
// 0.6 (glow) and 1.7 (hot pixels); the light is exposed 120 s.
struct ExposureCase {
  const char* name;
  std::vector<FitsKey> dark_keys;
  double ratio;       // NaN: none
  const char* warns;  // the scale warned of, "" for none
  const char* line;   // on the light's line of the text summary, "" for none
};

class Exposure : public ::testing::TestWithParam<ExposureCase> {};

TEST_P(Exposure, IsShownBesideTheScalesAndWarnsWhenFarFromThem) {
  const ExposureCase& c = GetParam();
  TempDir dir;
  const DemoSet set = write_small_set(dir);
  unlink((dir / "dark.fits").c_str());
  write_fits(dir / "dark.fits", set.dark, c.dark_keys);
  write_camera_light(dir / "cam.fits", set.light);
  std::vector<std::string> args = {"--light", dir / "cam.fits",  "--dark",    dir / "dark.fits",
                                   "--bias",  dir / "bias.fits", "--out-dir", dir / "out"};
  const CliRun text = run_cli(args);
  ASSERT_EQ(text.status, 0) << text.err;
  if (*c.line)
    EXPECT_NE(text.out.find(c.line), std::string::npos) << text.out;
  else
    EXPECT_EQ(text.out.find("exposure"), std::string::npos) << text.out;
  args.insert(args.end(), {"--json", "--overwrite", "--report", dir / "night.json"});
  const CliRun run = run_cli(args);
  ASSERT_EQ(run.status, 0) << run.err;
  const nlohmann::json json = nlohmann::json::parse(run.out);
  std::ifstream report_file(dir / "night.json");
  const nlohmann::json report = nlohmann::json::parse(report_file)[0];
  if (std::isnan(c.ratio)) {
    EXPECT_TRUE(json["exposure"]["ratio"].is_null()) << json["exposure"];
    EXPECT_TRUE(report["exposure_ratio"].is_null());
  } else {
    EXPECT_EQ(json["exposure"]["ratio"].get<double>(), c.ratio);
    EXPECT_EQ(report["exposure_ratio"].get<double>(), c.ratio);
  }
  EXPECT_EQ(json["exposure"]["light"], 120.0);
  Header h(dir / "out/cam_matched.fits");
  const double in_header = h.number<double>(output_keyword::exposure_ratio.name, TDOUBLE);
  if (std::isnan(c.ratio))
    EXPECT_EQ(h.status, KEY_NO_EXIST);
  else
    EXPECT_EQ(in_header, c.ratio);
  std::vector<std::string> warned;
  for (const auto& w : json["warnings"])
    for (const char* scale : {"glow_ratio", "hot_ratio"})
      if (w["code"] == "scale-off-exposure" && w["numbers"].contains(scale))
        warned.push_back(scale);
  EXPECT_EQ(warned, *c.warns ? std::vector<std::string>{c.warns} : std::vector<std::string>{});
  const auto codes = report["warnings"];
  EXPECT_EQ(std::count(codes.begin(), codes.end(), "scale-off-exposure"),
            static_cast<long>(warned.size()));
}

INSTANTIATE_TEST_SUITE_P(Darks, Exposure,
                         ::testing::Values(ExposureCase{"none", {}, NAN, "", ""},
                                           ExposureCase{
                                               "zero", {double_key("EXPTIME", 0, "")}, NAN, "", ""},
                                           ExposureCase{"glow_far_below",
                                                        {double_key("EXPTIME", 100, "")},
                                                        1.2,
                                                        "glow_ratio",
                                                        "  exposure 1.2  scale-off-exposure\n"},
                                           ExposureCase{"hot_far_above_exposure_keyword",
                                                        {double_key("EXPOSURE", 200, "")},
                                                        0.6,
                                                        "hot_ratio",
                                                        "  exposure 0.6  scale-off-exposure\n"},
                                           ExposureCase{"exptime_before_exposure",
                                                        {double_key("EXPOSURE", 100, ""),
                                                         double_key("EXPTIME", 200, "")},
                                                        0.6,
                                                        "hot_ratio",
                                                        "  exposure 0.6  scale-off-exposure\n"}),
                         [](const auto& info) { return std::string(info.param.name); });

// A frame's units: integer files are ADU whatever their values; a float
// frame is normalised only when every finite value lies within -0.5 to 1.5.
TEST(FrameUnitsOf, IntegerFilesValuesAndEdges) {
  const struct {
    const char* name;
    int bitpix;
    std::vector<float> values;
    FrameUnits units;
  } rows[] = {
      {"normalised", -32, {0.01f, 0.5f, 1.0f, -0.2f, NAN, INFINITY}, FrameUnits::normalised},
      {"at_the_edges", -64, {-0.5f, 1.5f}, FrameUnits::normalised},
      {"one_hot_pixel", -32, {0.01f, 0.02f, 0.03f, 1.6f}, FrameUnits::unknown},
      {"mostly_above_2", -32, {3, 500, 700, 0.1f, NAN}, FrameUnits::adu},
      {"half_above_2", -32, {0.1f, 0.2f, 3, 4}, FrameUnits::unknown},
      {"integer_file_of_0_and_1", 16, {0, 1, 1, 0}, FrameUnits::adu},
      {"nothing_finite", -32, {NAN, -INFINITY}, FrameUnits::unknown},
  };
  for (const auto& row : rows) {
    Frame frame{int32_t(row.values.size()), 1, Pixels(row.values.begin(), row.values.end())};
    frame.storage.bitpix = row.bitpix;
    EXPECT_EQ(frame_units(frame), row.units) << row.name;
  }
}

// File names of any bytes: named outputs, and valid JSON.
TEST(Batch, JsonIsValidWhateverBytesANameHolds) {
  TempDir dir;
  const DemoSet set = write_small_set(dir);
  write_fits(dir / "m\xff.fits", set.light, {});
  const CliRun run = run_cli(
      {"--dark", dir / "dark.fits", "--out-dir", dir / "out", dir / "m\xff.fits", "--json"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(list_dir(dir / "out"), std::set<std::string>{"m\xff_matched.fits"});
  const nlohmann::json json = nlohmann::json::parse(run.out);
  EXPECT_EQ(json["lights"][0]["outputs"][0]["title"], "Matched Dark Frame");
  EXPECT_TRUE(json["failed"].empty());
}

// Runs of the program over LIGHT arguments under the shell: signals, streams
// that fail and files that cannot be written.
struct BatchCase {
  const char* name;
  std::function<void(const TempDir&)> prepare;
  std::string command;  // for bash; EXE stands for the tool, DIR for the directory
  int status;
  std::vector<std::string> lines;  // each found in standard error or output, DIR as above
  std::function<void(const TempDir&)> check;
  bool limits_address_space = false;  // ulimit -v, which the sanitizers cannot run under
};

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

std::string expand_all(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

bool has_staged_files(const std::string& dir) {
  const std::set<std::string> names = list_dir(dir);
  return std::any_of(names.begin(), names.end(),
                     [](const std::string& name) { return name.rfind(".tenvora-match-", 0) == 0; });
}

void second_light(const TempDir& d) {
  link((d / "light.fits").c_str(), (d / "light2.fits").c_str());
}

// A folder holding a light of 36500 HISTORY cards and the outputs of an
// earlier run over it.
void long_header_night(const TempDir& d) {
  mkdir((d / "night").c_str(), 0777);
  std::vector<FitsKey> history(36500, history_key("a long night"));
  write_fits(d / "night/long.fits", read_fits(d / "light.fits"), history);
  ASSERT_EQ(run_cli({"--light", d / "night/long.fits", "--dark", d / "dark.fits", "--out-dir",
                     d / "night"})
                .status,
            0);
}

// Twenty lights of a million pixels: a run long enough to be interrupted.
void big_night(const TempDir& d) {
  write_fits(d / "big_dark.fits", ramp_frame(1000, 1000, 10.0f, 0.001f), {});
  write_fits(d / "big_00.fits", ramp_frame(1000, 1000, 20.0f, 0.002f), {});
  for (int k = 1; k < 20; ++k)
    link((d / "big_00.fits").c_str(), (d / ("big_" + std::to_string(k + 10) + ".fits")).c_str());
}

const BatchCase kBatchCases[] = {
    {"every_light_failed_keeps_the_report",
     [](const TempDir& d) {
       std::ofstream(d / "night.csv") << "earlier rows\n";
       std::ofstream(d / "bad.fits") << "not FITS";
     },
     "EXE --dark DIR/dark.fits --out-dir DIR/out --overwrite --report DIR/night.csv --plot "
     "DIR/night.png "
     "DIR/bad.fits",
     2,
     {"tenvora-match: DIR/night.csv: not written: no light was matched",
      "tenvora-match: DIR/night.png: not written: no light was matched"},
     [](const TempDir& d) {
       EXPECT_EQ(file_bytes(d / "night.csv"), "earlier rows\n");
       EXPECT_FALSE(list_dir(d.path()).count("night.png"));
     }},
    {"summary_to_a_full_device",
     nothing,
     "EXE --dark DIR/dark.fits --out-dir DIR/out --json DIR/light.fits >/dev/full",
     2,
     {"tenvora-match: standard output: the summary cannot be written: No space left on device"},
     [](const TempDir& d) {
       EXPECT_EQ(list_dir(d / "out"), std::set<std::string>{"light_matched.fits"});
     }},
    {"summary_to_a_closed_stream",
     nothing,
     "EXE --dark DIR/dark.fits --out-dir DIR/out DIR/light.fits >&-",
     2,
     {"tenvora-match: standard output: the summary cannot be written: Bad file descriptor"},
     [](const TempDir&) {}},
    // Outputs larger than the file size limit: EFBIG, as a full disk gives ENOSPC.
    {"outputs_that_cannot_be_written",
     second_light,
     "trap '' XFSZ; ulimit -f 8; EXE --dark DIR/dark.fits --out-dir DIR/out DIR/light.fits "
     "DIR/light2.fits",
     2,
     {"tenvora-match: DIR/out/light_matched.fits: cannot be written: File too large",
      "(an output of light DIR/light.fits)\n", "0 of 2 lights matched; 2 failed:"},
     [](const TempDir& d) { EXPECT_TRUE(list_dir(d / "out").empty()); }},
    // A reader that goes away fails the writes, not the run.
    {"reader_gone",
     second_light,
     "EXE --dark DIR/dark.fits --out-dir DIR/out DIR/light.fits DIR/light2.fits 2>&1 | true; "
     "exit ${PIPESTATUS[0]}",
     2,
     {},
     [](const TempDir& d) {
       EXPECT_EQ(list_dir(d / "out"),
                 (std::set<std::string>{"light_matched.fits", "light2_matched.fits"}));
     }},
    // Names up to the limit are staged under short names.
    {"long_output_name",
     [](const TempDir& d) {
       link((d / "light.fits").c_str(), (d / (std::string(242, 'n') + ".fits")).c_str());
     },
     "EXE --dark DIR/dark.fits --out-dir DIR/out --preview DIR/" + std::string(242, 'n') + ".fits",
     0,
     {},
     [](const TempDir& d) {
       EXPECT_EQ(list_dir(d / "out"),
                 (std::set<std::string>{std::string(242, 'n') + "_matched.fits",
                                        std::string(242, 'n') + "_matched.png"}));
     }},
    {"list_from_a_pipe",
     nothing,
     "echo DIR/light.fits | EXE --dark DIR/dark.fits --out-dir DIR/out @/dev/stdin",
     0,
     {},
     [](const TempDir& d) {
       EXPECT_EQ(list_dir(d / "out"), std::set<std::string>{"light_matched.fits"});
     }},
    // Outputs write CREATOR after all of the light's cards, however many.
    {"folder_with_outputs_of_a_long_header",
     long_header_night,
     "EXE --dark DIR/dark.fits --out-dir DIR/out DIR/night",
     0,
     {},
     [](const TempDir& d) {
       EXPECT_EQ(list_dir(d / "out"), std::set<std::string>{"long_matched.fits"});
     }},
    // Room for the dark's planes but not for the light's as well.
    {"out_of_memory_names_the_light",
     [](const TempDir& d) {
       write_fits(d / "big_dark.fits", ramp_frame(4000, 4000, 10.0f, 0.001f), {});
       write_fits(d / "big.fits", ramp_frame(4000, 4000, 20.0f, 0.002f), {});
     },
     "ulimit -v 300000; EXE --dark DIR/big_dark.fits --out-dir DIR/out --jobs 1 DIR/big.fits",
     2,
     {"tenvora-match: DIR/big.fits: out of memory\n"},
     [](const TempDir& d) { EXPECT_TRUE(list_dir(d / "out").empty()); },
     true},
    {"hangup",
     big_night,
     "EXE --dark DIR/big_dark.fits --out-dir DIR/out --subtract --outputs "
     "glow,hot,matched,corrected "
     "--jobs 2 DIR/big_*.fits & sleep 0.4; kill -HUP $!; wait $!",
     128 + SIGHUP,
     {},
     [](const TempDir& d) { EXPECT_FALSE(has_staged_files(d / "out")); }},
};

class BatchRun : public ::testing::TestWithParam<BatchCase> {};

TEST_P(BatchRun, EndsAsDocumented) {
  const BatchCase& c = GetParam();
  if (c.limits_address_space && kSanitized)
    GTEST_SKIP() << "the sanitizers reserve more address space than ulimit -v leaves";
  TempDir dir;
  write_small_set(dir);
  c.prepare(dir);
  const std::string command =
      expand_all(expand_all(c.command, "DIR", dir.path()), "EXE", TENVORA_MATCH_EXE);
  std::ofstream(dir / "command.sh") << command << "\n";
  const int raw = std::system(
      ("bash " + dir / "command.sh" + " >" + dir / "out.txt" + " 2>" + dir / "err.txt").c_str());
  const std::string err = file_bytes(dir / "err.txt") + file_bytes(dir / "out.txt");
  EXPECT_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, c.status) << err;
  for (const std::string& line : c.lines)
    EXPECT_NE(err.find(expand_all(line, "DIR", dir.path())), std::string::npos) << line << "\n"
                                                                                << err;
  EXPECT_FALSE(has_staged_files(dir / "out"));
  c.check(dir);
}

INSTANTIATE_TEST_SUITE_P(Cases, BatchRun, ::testing::ValuesIn(kBatchCases),
                         [](const auto& info) { return std::string(info.param.name); });

// The program itself: exit statuses, help and version.
TEST(Program, ExitsWithTheDocumentedStatus) {
  TempDir dir;
  const std::string exe = TENVORA_MATCH_EXE;
  auto status = [&](const std::string& args) {
    const int raw = std::system(
        (exe + " " + args + " >" + (dir / "out.txt") + " 2>" + (dir / "err.txt")).c_str());
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  };
  EXPECT_EQ(status("--version"), 0);
  EXPECT_EQ(file_bytes(dir / "out.txt"), "tenvora-match " TENVORA_VERSION "\n");
  EXPECT_EQ(status("--help"), 0);
  const std::string help = file_bytes(dir / "out.txt");
  for (const char* option :
       {"--light", "--dark", "--bias ", "--bias-factor", "--subtract", "--out-dir", "--json",
        "--preview", "--overwrite", "--max-pixels", "--report", "--plot", "--demo", "--help",
        "--version", "corner-source", "many-negative-pixels"})
    EXPECT_NE(help.find(option), std::string::npos) << option;
  EXPECT_EQ(status("--light " + (dir / "none.fits") + " --dark x --out-dir " + dir.path()), 2);
  EXPECT_EQ(file_bytes(dir / "err.txt"),
            "tenvora-match: " + (dir / "none.fits") + ": No such file or directory\n");
}

}  // namespace

// The demo's night with a clean light, one that warns (its levels 25 times
// the dark's) and one that is no FITS file, against the demo's dark and bias.
class NightOfThree : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    night_ = new TempDir;
    ASSERT_EQ(run_cli({"--demo", *night_ / "demo"}).status, 0);
    const Frame dark = read_fits(*night_ / "demo/dark.fits");
    const Frame bias = read_fits(*night_ / "demo/bias.fits");
    Frame strong = dark;
    for (size_t i = 0; i < strong.pixels.size(); ++i)
      strong.pixels[i] = 25 * (dark.pixels[i] - bias.pixels[i]) + bias.pixels[i];
    write_fits(*night_ / "strong.fits", strong, {});
    std::ofstream(*night_ / "broken.fits") << "not a FITS file";
  }
  static void TearDownTestSuite() { delete night_; }
  static std::string path(const std::string& light) {
    if (light.rfind("clean", 0) == 0) return *night_ / ("demo/" + stem(light) + ".fits");
    return *night_ / (light + ".fits");
  }
  static std::string stem(const std::string& light) {
    return light == "clean" ? "light_01" : light == "clean2" ? "light_02" : light;
  }
  static TempDir* night_;
};
TempDir* NightOfThree::night_ = nullptr;

struct StrictCase {
  const char* name;
  std::vector<std::string> lights;  // clean, strong, broken; one alone goes as --light
  bool strict;
  int status;
  std::string closing;  // the summary's closing line
  std::string shown;    // the name the summary gives light_01.fits, if run
};

class Strict : public NightOfThree, public ::testing::WithParamInterface<StrictCase> {};

TEST_P(Strict, ExitsThreeWhenALightWarnedAndWritesTheCodesIntoTheHeaders) {
  const StrictCase& c = GetParam();
  TempDir out;
  std::vector<std::string> args = {"--dark",    *night_ / "demo/dark.fits",
                                   "--bias",    *night_ / "demo/bias.fits",
                                   "--out-dir", out.path(),
                                   "--outputs", "matched"};
  if (c.lights.size() == 1) args.insert(args.end(), {"--light", path(c.lights[0])});
  for (const std::string& light : c.lights)
    if (c.lights.size() > 1) args.push_back(path(light));
  if (c.strict) args.push_back("--strict");
  const CliRun run = run_cli(args);
  EXPECT_EQ(run.status, c.status) << run.err;
  EXPECT_NE(run.out.find("\n" + c.closing + "\n"), std::string::npos) << run.out;
  // Names relative to the lights' folder, the codes on the light's line, the
  // texts once at the end; none on standard error without -v.
  const bool strong = std::count(c.lights.begin(), c.lights.end(), "strong") > 0;
  EXPECT_EQ(std::regex_search(run.out, std::regex("(^|\n)strong.fits  glow [0-9.]+ \\+- [0-9.e-]+  "
                                                  "hot [0-9.]+ \\+- [0-9.e-]+  "
                                                  "[a-z,-]*fit-scale-out-of-range[a-z,-]*\n")),
            strong)
      << run.out;
  EXPECT_EQ(run.out.find("\nwarning fit-scale-out-of-range on 1 light; strong.fits: The ") !=
                std::string::npos,
            strong)
      << run.out;
  EXPECT_EQ(run.err.find("warning"), std::string::npos) << run.err;
  if (!c.shown.empty()) {
    EXPECT_NE(("\n" + run.out).find("\n" + c.shown + "  glow "), std::string::npos) << run.out;
  }
  for (const std::string& light : c.lights) {
    if (light == "broken") continue;
    Header h(out / (stem(light) + "_matched.fits"));
    EXPECT_EQ(h.text("TVWARN").find("fit-scale-out-of-range") != std::string::npos,
              light == "strong")
        << light << ": " << h.text("TVWARN");
    EXPECT_EQ(h.status, 0) << light;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Runs, Strict,
    ::testing::Values(
        StrictCase{"clean", {"clean", "clean2"}, true, 0, "2 of 2 lights matched", "light_01.fits"},
        StrictCase{"warned_not_strict",
                   {"clean", "strong"},
                   false,
                   0,
                   "2 of 2 lights matched, 1 with warnings",
                   "demo/light_01.fits"},
        StrictCase{
            "warned", {"strong", "clean"}, true, 3, "2 of 2 lights matched, 1 with warnings", ""},
        // A light that failed outweighs one that warned.
        StrictCase{"failed_and_warned",
                   {"strong", "broken"},
                   true,
                   2,
                   "1 of 2 lights matched, 1 with warnings; 1 failed:",
                   ""}),
    [](const auto& info) { return std::string(info.param.name); });

// --light names its outputs as a batch does, --out-name as told; a missing
// --out-dir is made.
struct NamesCase {
  const char* name;
  std::vector<std::string> more;
  std::string out_dir;  // under the scratch folder
  std::set<std::string> files;
};

class Names : public ::testing::TestWithParam<NamesCase> {};

TEST_P(Names, OfOneLightsOutputs) {
  const NamesCase& c = GetParam();
  TempDir dir;
  write_small_set(dir);
  std::vector<std::string> args = {"--light",         dir / "light.fits", "--dark",
                                   dir / "dark.fits", "--out-dir",        dir / c.out_dir};
  args.insert(args.end(), c.more.begin(), c.more.end());
  const CliRun run = run_cli(args);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(list_dir(dir / c.out_dir), c.files);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Names,
    ::testing::Values(
        NamesCase{"after_the_light",
                  {},
                  "out",
                  {"light_glow.fits", "light_hot.fits", "light_matched.fits"}},
        NamesCase{"fixed", {"--out-name", ""}, "out", {"glow.fits", "hot.fits", "matched.fits"}},
        NamesCase{"prefix",
                  {"--out-name", "m42_", "--subtract", "--outputs", "corrected"},
                  "out",
                  {"m42_corrected.fits"}},
        NamesCase{
            "new_folder", {"--outputs", "matched"}, "night/calibrated", {"light_matched.fits"}}),
    [](const auto& info) { return std::string(info.param.name); });

// A rerun with --skip-existing after a run stopped two lights in: only the
// lights left are matched, the summary and report list all three, and
// outputs made from another factor are not taken for done.
struct SkipCase {
  const char* name;
  std::vector<std::string> first, second;  // options of the runs beside the common ones
  int status;
  std::string closing;  // of the second run; "" when it is refused
};

class SkipExisting : public NightOfThree, public ::testing::WithParamInterface<SkipCase> {};

TEST_P(SkipExisting, FinishesAnInterruptedNight) {
  const SkipCase& c = GetParam();
  TempDir out;
  auto run = [&](const std::vector<std::string>& more, std::vector<std::string> lights) {
    std::vector<std::string> args = {"--dark",     *night_ / "demo/dark.fits",
                                     "--bias",     *night_ / "demo/bias.fits",
                                     "--subtract", "--out-dir",
                                     out.path()};
    for (const std::string& option : more)
      args.push_back(option == "night.csv" ? out / option : option);
    for (const std::string& light : lights) args.push_back(path(light));
    return run_cli(args);
  };
  ASSERT_EQ(run(c.first, {"clean", "clean2"}).status, 0);
  const std::string before = file_bytes(out / "light_01_corrected.fits");
  const CliRun second = run(c.second, {"clean", "clean2", "strong"});
  EXPECT_EQ(second.status, c.status) << second.err;
  if (c.closing.empty()) {
    EXPECT_NE(second.err.find("light_01_corrected.fits: exists already"), std::string::npos)
        << second.err;
    return;
  }
  EXPECT_NE(second.out.find("\n" + c.closing + "\n"), std::string::npos) << second.out;
  const bool left = c.closing.find("earlier run") != std::string::npos;
  EXPECT_EQ(file_bytes(out / "light_01_corrected.fits") == before, left);
  // The report's rows, the lights read back included, with their levels.
  if (std::find(c.second.begin(), c.second.end(), "--report") == c.second.end()) return;
  std::ifstream report(out / "night.csv");
  std::vector<std::string> rows;
  for (std::string line; std::getline(report, line);) rows.push_back(line);
  ASSERT_EQ(rows.size(), 4u);
  for (size_t k = 1; k < 4; ++k) {
    EXPECT_NE(
        rows[k].find(k < 3 ? "demo/light_0" + std::to_string(k) + ".fits,2026-" : "strong.fits,,"),
        std::string::npos)
        << rows[k];
    // The levels (glow_light to hot_ratio) and the scales with their errors
    // (glow_scale to hot_error) read back; what the dark did cannot be.
    std::vector<std::string> cells;
    std::stringstream line(rows[k]);
    for (std::string cell; std::getline(line, cell, ',');) cells.push_back(cell);
    ASSERT_GT(cells.size(), 20u) << rows[k];
    for (size_t column : {4, 5, 6, 7, 8, 9, 17, 18, 19, 20})
      EXPECT_FALSE(cells[column].empty()) << "column " << column << " read back: " << rows[k];
  }
  // Both scales out of range: the code once, as in TVWARN.
  const std::string codes = rows[3].substr(rows[3].rfind(',') + 1);
  EXPECT_EQ(codes.find("fit-scale-out-of-range"), 0u) << rows[3];
  EXPECT_EQ(codes.find("fit-scale-out-of-range", 1), std::string::npos) << rows[3];
}

INSTANTIATE_TEST_SUITE_P(
    Runs, SkipExisting,
    ::testing::Values(
        SkipCase{"resumed",
                 {},
                 {"--skip-existing", "--report", "night.csv"},
                 0,
                 "3 of 3 lights matched (2 by an earlier run), 1 with warnings"},
        SkipCase{"without_skip", {}, {}, 2, ""},
        SkipCase{"other_factor", {}, {"--skip-existing", "--bias-factor", "2"}, 2, ""},
        SkipCase{"other_factor_replaced",
                 {},
                 {"--skip-existing", "--bias-factor", "2", "--overwrite"},
                 0,
                 "3 of 3 lights matched, 3 with warnings"},
        SkipCase{"other_outputs",
                 {"--outputs", "corrected"},
                 {"--skip-existing", "--outputs", "corrected,matched"},
                 2,
                 ""},
        SkipCase{"other_method", {}, {"--skip-existing", "--method", "plugin"}, 2, ""},
        SkipCase{"compressed_resumed",
                 {"--compress"},
                 {"--compress", "--skip-existing"},
                 0,
                 "3 of 3 lights matched (2 by an earlier run), 1 with warnings"}),
    [](const auto& info) { return std::string(info.param.name); });
