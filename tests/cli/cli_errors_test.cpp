// Bad input: one line naming the file and the problem, exit status 2, and
// nothing written.
#include <fitsio.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <functional>

#include "tests/cli/cli_run.h"

namespace {

void write_text(const std::string& path, const std::string& text) {
  std::ofstream(path) << text;
}

void write_axes(const std::string& path, std::vector<long> axes) {
  fitsfile* file = nullptr;
  int status = 0;
  fits_create_diskfile(&file, path.c_str(), &status);
  fits_create_img(file, FLOAT_IMG, static_cast<int>(axes.size()), axes.data(), &status);
  long n = axes.empty() ? 0 : 1;
  for (long a : axes) n *= a;
  std::vector<float> zeros(n, 1.0f);
  if (n) fits_write_img(file, TFLOAT, 1, n, zeros.data(), &status);
  fits_close_file(file, &status);
}

// A hand-made FITS file: the header cards, then data_bytes zero bytes;
// gzip-compressed when the name ends in .gz.
void write_raw_fits(const std::string& path, const std::vector<std::string>& cards,
                    size_t data_bytes) {
  std::string bytes;
  for (const std::string& card : cards) bytes += (card + std::string(80, ' ')).substr(0, 80);
  bytes += (std::string("END") + std::string(80, ' ')).substr(0, 80);
  bytes.resize((bytes.size() + 2879) / 2880 * 2880, ' ');
  bytes.resize(bytes.size() + data_bytes, '\0');
  if (path.size() < 3 || path.substr(path.size() - 3) != ".gz") {
    std::ofstream(path, std::ios::binary) << bytes;
    return;
  }
  gzFile gz = gzopen(path.c_str(), "wb");
  for (size_t at = 0; at < bytes.size(); at += 1 << 20)
    gzwrite(gz, bytes.data() + at,
            static_cast<unsigned>(std::min<size_t>(1 << 20, bytes.size() - at)));
  gzclose(gz);
}

// The directory's light.fits gzip-compressed into name, its bytes then
// changed by damage.
void write_damaged_gzip(const TempDir& d, const std::string& name,
                        const std::function<void(std::string&)>& damage) {
  std::ifstream in(d / "light.fits", std::ios::binary);
  const std::string plain((std::istreambuf_iterator<char>(in)), {});
  gzFile gz = gzopen((d / name).c_str(), "wb");
  gzwrite(gz, plain.data(), static_cast<unsigned>(plain.size()));
  gzclose(gz);
  std::ifstream packed_in(d / name, std::ios::binary);
  std::string packed((std::istreambuf_iterator<char>(packed_in)), {});
  damage(packed);
  std::ofstream(d / name, std::ios::binary | std::ios::trunc) << packed;
}

// The frame of from times factor, as a new file of that type.
void write_scaled(const std::string& from, const std::string& to, float factor,
                  int image_type = -32) {
  Frame frame = read_fits(from);
  for (float& v : frame.pixels) v = image_type > 0 ? std::round(v * factor) : v * factor;
  write_fits(to, frame, {}, image_type);
}

std::vector<std::string> image_cards(int bitpix, long width, long height) {
  return {"SIMPLE  =                    T", "BITPIX  = " + std::to_string(bitpix),
          "NAXIS   =                    2", "NAXIS1  = " + std::to_string(width),
          "NAXIS2  = " + std::to_string(height)};
}

struct BadCase {
  const char* name;
  std::function<void(const TempDir&)> prepare;
  std::vector<std::string> args;  // "@/" at the start stands for the directory
  std::string subject;            // likewise
  std::string problem;            // the start of the problem text; "@/" stands for it too
};

const std::vector<std::string> kGood = {"--light",     "@/light.fits", "--dark",
                                        "@/dark.fits", "--out-dir",    "@/out"};

std::vector<std::string> good_with(std::vector<std::string> more) {
  std::vector<std::string> args = kGood;
  args.insert(args.end(), more.begin(), more.end());
  return args;
}

std::vector<std::string> with_light(const std::string& light) {
  return {"--light", light, "--dark", "@/dark.fits", "--out-dir", "@/out"};
}

std::vector<std::string> with_dark(const std::string& dark) {
  return {"--light", "@/light.fits", "--dark", dark, "--out-dir", "@/out"};
}

auto nothing = [](const TempDir&) {};

const BadCase kCases[] = {
    {"missing_file", nothing, with_light("@/none.fits"), "@/none.fits", "No such file"},
    {"directory_as_file", nothing, with_light("@/out"), "@/out", "is a directory"},
    {"not_fits", [](const TempDir& d) { write_text(d / "notes.txt", "clear skies\n"); },
     with_dark("@/notes.txt"), "@/notes.txt", "not a FITS file"},
    {"empty_file", [](const TempDir& d) { write_text(d / "empty.fits", ""); },
     with_light("@/empty.fits"), "@/empty.fits", "not a FITS file"},
    {"no_image", [](const TempDir& d) { write_axes(d / "header.fits", {}); },
     with_light("@/header.fits"), "@/header.fits", "holds no image"},
    {"one_dimensional", [](const TempDir& d) { write_axes(d / "line.fits", {48}); },
     with_dark("@/line.fits"), "@/line.fits", "holds a 1-D image"},
    {"cube",
     [](const TempDir& d) {
       write_axes(d / "cube.fits", {48, 40, 3});
     },
     with_dark("@/cube.fits"), "@/cube.fits", "is a 3-D image with 3 planes"},
    {"truncated",
     [](const TempDir& d) {
       std::ifstream in(d / "light.fits", std::ios::binary);
       std::string bytes((std::istreambuf_iterator<char>(in)), {});
       std::ofstream(d / "cut.fits", std::ios::binary) << bytes.substr(0, 4000);
     },
     with_light("@/cut.fits"), "@/cut.fits",
     "is truncated: its 48 x 40 image needs 7680 bytes of data, the file holds 1120"},
    // A tile-compressed light cut short: its table and heap are checked, not the
    // image's size (a whole .fz file holds fewer bytes than its image).
    {"tile_compressed_truncated",
     [](const TempDir& d) {
       write_fits(d / "l.fits.fz", read_fits(d / "light.fits"), {}, -32, {}, true);
       std::ifstream in(d / "l.fits.fz", std::ios::binary);
       std::string bytes((std::istreambuf_iterator<char>(in)), {});
       std::ofstream(d / "cut.fits.fz", std::ios::binary) << bytes.substr(0, 9000);
     },
     with_light("@/cut.fits.fz"), "@/cut.fits.fz", "is truncated: its 48 x 40 image needs "},
    {"tile_compressed_larger_than_the_limit",
     [](const TempDir& d) {
       write_fits(d / "l.fits.fz", read_fits(d / "light.fits"), {}, -32, {}, true);
     },
     {"--light", "@/l.fits.fz", "--dark", "@/dark.fits", "--out-dir", "@/out", "--max-pixels",
      "1000"},
     "@/l.fits.fz",
     "image of 48 x 40 pixels is larger than --max-pixels 1000"},
    // A small header declaring a frame far larger than the file or the limit.
    {"huge_declared_size",
     [](const TempDir& d) { write_raw_fits(d / "huge.fits", image_cards(8, 46340, 46340), 11000); },
     with_light("@/huge.fits"), "@/huge.fits",
     "image of 46340 x 46340 pixels is larger than --max-pixels 200000000"},
    {"declared_beyond_the_file",
     [](const TempDir& d) { write_raw_fits(d / "short.fits", image_cards(16, 10000, 9000), 5760); },
     with_light("@/short.fits"), "@/short.fits",
     "is truncated: its 10000 x 9000 image needs 180000000 bytes of data, the file holds 5760"},
    {"gzip_larger_than_the_limit",
     [](const TempDir& d) {
       write_raw_fits(d / "bomb.fits.gz", image_cards(8, 20000, 20000), 1 << 22);
     },
     with_light("@/bomb.fits.gz"), "@/bomb.fits.gz", "image of 20000 x 20000 pixels is larger"},
    {"gzip_declared_beyond_its_data",
     [](const TempDir& d) {
       write_raw_fits(d / "cut.fits.gz", image_cards(-32, 8000, 8000), 1 << 20);
     },
     with_light("@/cut.fits.gz"), "@/cut.fits.gz",
     "is truncated: its 8000 x 8000 image needs 256000000 bytes of data, the file holds 1048576"},
    // The checksums at the end of the member are checked, past the image.
    {"gzip_crc_wrong",
     [](const TempDir& d) {
       write_damaged_gzip(d, "crc.fits.gz", [](std::string& b) { b[b.size() - 8] ^= 1; });
     },
     with_light("@/crc.fits.gz"), "@/crc.fits.gz", "damaged gzip data (incorrect data check)"},
    {"gzip_length_wrong",
     [](const TempDir& d) {
       write_damaged_gzip(d, "isize.fits.gz", [](std::string& b) { b[b.size() - 3] ^= 4; });
     },
     with_dark("@/isize.fits.gz"), "@/isize.fits.gz", "damaged gzip data (incorrect length check)"},
    {"gzip_without_trailer",
     [](const TempDir& d) {
       write_damaged_gzip(d, "cut.fits.gz", [](std::string& b) { b.resize(b.size() - 8); });
     },
     with_light("@/cut.fits.gz"), "@/cut.fits.gz",
     "damaged gzip data (the data end inside a member)"},
    // The size in the header is compared before the data are inflated.
    {"gzip_of_another_size",
     [](const TempDir& d) {
       write_raw_fits(d / "big.fits.gz", image_cards(-64, 10000, 10000), 1 << 20);
     },
     with_dark("@/big.fits.gz"), "@/big.fits.gz", "is 10000 x 10000, the light frame 48 x 40"},
    {"gzip_not_fits",
     [](const TempDir& d) {
       gzFile gz = gzopen((d / "notes.gz").c_str(), "wb");
       gzputs(gz, "clear skies\n");
       gzclose(gz);
     },
     with_dark("@/notes.gz"), "@/notes.gz", "not a FITS file (it does not start with SIMPLE =)"},
    {"max_pixels_option", nothing, good_with({"--max-pixels", "1919"}), "@/light.fits",
     "image of 48 x 40 pixels is larger than --max-pixels 1919"},
    {"max_pixels_zero", nothing, good_with({"--max-pixels=0"}), "--max-pixels",
     "'0' is not a whole number from 1 to 2147483647"},
    {"bscale_zero",
     [](const TempDir& d) {
       std::vector<std::string> cards = image_cards(16, 48, 40);
       cards.push_back("BSCALE  =                    0");
       write_raw_fits(d / "flat.fits", cards, 3840);
     },
     with_dark("@/flat.fits"), "@/flat.fits", "BSCALE is 0"},
    {"fifo", [](const TempDir& d) { mkfifo((d / "pipe.fits").c_str(), 0600); },
     with_light("@/pipe.fits"), "@/pipe.fits", "is a FIFO, not a regular file"},
    {"device", nothing, with_dark("/dev/zero"), "/dev/zero",
     "is a character device, not a regular file"},
    // With or without --overwrite, an output never replaces an input.
    {"output_is_an_input",
     [](const TempDir& d) {
       link((d / "light.fits").c_str(), (d / "out/light_glow.fits").c_str());
     },
     good_with({"--overwrite"}), "@/out/light_glow.fits",
     "is one of the input files; an output never replaces an input"},
    {"dark_size",
     [](const TempDir& d) {
       write_axes(d / "small.fits", {48, 39});
     },
     with_dark("@/small.fits"), "@/small.fits", "is 48 x 39, the light frame 48 x 40"},
    {"bias_size",
     [](const TempDir& d) {
       write_axes(d / "small.fits", {47, 40});
     },
     good_with({"--bias", "@/small.fits"}), "@/small.fits", "is 47 x 40, the light frame 48 x 40"},
    // The other job reads its light while the bias is read.
    {"bias_size_batch_of_two_jobs",
     [](const TempDir& d) {
       write_axes(d / "small.fits", {47, 40});
       write_axes(d / "light2.fits", {48, 40});
     },
     {"--dark", "@/dark.fits", "--bias", "@/small.fits", "--out-dir", "@/out", "--jobs", "2",
      "@/light.fits", "@/light2.fits"},
     "@/small.fits",
     "is 47 x 40, the dark frame 48 x 40"},
    // Masters normalised to 0..1 against ADU frames, and the other way round.
    {"normalised_dark_against_adu_light",
     [](const TempDir& d) { write_scaled(d / "light.fits", d / "ndark.fits", 1 / 65535.0f); },
     with_dark("@/ndark.fits"), "@/ndark.fits",
     "looks normalised to 0..1 (every value within -0.5 to 1.5) while "},
    {"normalised_bias_against_integer_light",
     [](const TempDir& d) {
       write_scaled(d / "bias.fits", d / "nbias.fits", 1 / 65535.0f);
       write_scaled(d / "light.fits", d / "ulight.fits", 1, USHORT_IMG);
     },
     {"--light", "@/ulight.fits", "--dark", "@/dark.fits", "--bias", "@/nbias.fits", "--out-dir",
      "@/out"},
     "@/nbias.fits",
     "looks normalised to 0..1 (every value within -0.5 to 1.5) while "},
    {"adu_dark_against_normalised_light",
     [](const TempDir& d) { write_scaled(d / "light.fits", d / "nlight.fits", 1 / 65535.0f); },
     with_light("@/nlight.fits"), "@/dark.fits", "is in ADU while "},
    {"adu_bias_against_normalised_dark_batch",
     [](const TempDir& d) { write_scaled(d / "dark.fits", d / "ndark.fits", 1 / 65535.0f); },
     {"--dark", "@/ndark.fits", "--bias", "@/bias.fits", "--out-dir", "@/out", "@/light.fits"},
     "@/bias.fits",
     "is in ADU while "},
    {"factor_too_big", nothing, good_with({"--bias", "@/bias.fits", "--bias-factor", "1000"}),
     "--bias-factor", "'1000' is not a whole number from 0 to 999"},
    {"factor_negative", nothing, good_with({"--bias", "@/bias.fits", "--bias-factor=-1"}),
     "--bias-factor", "'-1' is not"},
    {"factor_not_a_number", nothing, good_with({"--bias", "@/bias.fits", "--bias-factor", "2x"}),
     "--bias-factor", "'2x' is not"},
    {"factor_without_bias", nothing, good_with({"--bias-factor", "2"}), "--bias-factor",
     "needs --bias"},
    {"out_dir_cannot_be_made",
     nothing,
     {"--light", "@/light.fits", "--dark", "@/dark.fits", "--out-dir", "@/light.fits/out"},
     "--out-dir @/light.fits/out",
     "cannot be created: @/light.fits/out: Not a directory"},
    {"out_name_with_a_folder", nothing, good_with({"--out-name", "sub/m42_"}), "--out-name",
     "'sub/m42_' names files in --out-dir"},
    {"out_name_in_a_batch",
     nothing,
     {"--dark", "@/dark.fits", "--out-dir", "@/out", "--out-name", "m42_", "@/light.fits"},
     "--out-name",
     "goes with --light"},
    {"out_dir_is_a_file",
     nothing,
     {"--light", "@/light.fits", "--dark", "@/dark.fits", "--out-dir", "@/light.fits"},
     "@/light.fits",
     "not a directory"},
    {"existing_output", [](const TempDir& d) { write_text(d / "out/light_hot.fits", "mine"); },
     kGood, "@/out/light_hot.fits", "exists already"},
    {"existing_corrected",
     [](const TempDir& d) { write_text(d / "out/light_corrected.fits", "mine"); },
     good_with({"--subtract"}), "@/out/light_corrected.fits", "exists already"},
    {"existing_preview", [](const TempDir& d) { write_text(d / "out/light_glow.png", "mine"); },
     good_with({"--preview"}), "@/out/light_glow.png", "exists already"},
    {"missing_dark",
     nothing,
     {"--light", "@/light.fits", "--out-dir", "@/out"},
     "--dark",
     "missing"},
    {"unknown_option", nothing, good_with({"--dakr", "x"}), "--dakr", "unknown option"},
    {"flag_given_twice_by_both_names", nothing, good_with({"-v", "--verbose"}), "--verbose",
     "given twice"},
    {"empty_value", nothing, good_with({"--report", ""}), "--report", "needs a value"},
    {"value_missing_at_the_end", nothing, good_with({"--jobs"}), "--jobs", "needs a value"},
    // Batch runs refuse before any work lights whose outputs would collide,
    // and outputs that would replace an input.
    {"batch_name_collision",
     [](const TempDir& d) {
       mkdir((d / "sub").c_str(), 0777);
       write_text(d / "sub/light.fits.gz", "another light");
     },
     {"--dark", "@/dark.fits", "--out-dir", "@/out", "@/light.fits", "@/sub/light.fits.gz"},
     "@/sub/light.fits.gz",
     "its outputs would take the names of those of"},
    {"batch_output_is_an_input",
     [](const TempDir& d) {
       link((d / "dark.fits").c_str(), (d / "out/light_matched.fits").c_str());
     },
     {"--dark", "@/dark.fits", "--out-dir", "@/out", "--overwrite", "@/light.fits"},
     "@/out/light_matched.fits",
     "is one of the input files"},
    {"output_name_too_long",
     [](const TempDir& d) {
       link((d / "light.fits").c_str(), (d / (std::string(245, 'n') + ".fits")).c_str());
     },
     {"--dark", "@/dark.fits", "--out-dir", "@/out", "@/" + std::string(245, 'n') + ".fits"},
     "@/out/" + std::string(245, 'n') + "_matched.fits",
     "name too long: 258 bytes, the file system takes 255"},
    {"batch_light_given_twice",
     nothing,
     {"--dark", "@/dark.fits", "--out-dir", "@/out", "@/light.fits", "@/light.fits"},
     "@/light.fits",
     "is given twice"},
    {"bias_is_the_light", nothing, good_with({"--bias", "@/light.fits"}), "@/light.fits",
     "is also the light @/light.fits; a bias is a frame of its own"},
    // @lists: what no list of paths holds is refused at once.
    {"list_of_zeros",
     [](const TempDir& d) { symlink("/dev/zero", (d / "zeros").c_str()); },
     {"--dark", "@/dark.fits", "--out-dir", "@/out", "@@/zeros"},
     "@/zeros",
     "line 1 holds a NUL byte: not a list of paths"},
    {"list_line_too_long",
     [](const TempDir& d) { write_text(d / "long.txt", "a.fits\n" + std::string(5000, 'a')); },
     {"--dark", "@/dark.fits", "--out-dir", "@/out", "@@/long.txt"},
     "@/long.txt",
     "line 2 is longer than 4096 bytes: not a list of paths"},
    {"list_is_fits",
     nothing,
     {"--dark", "@/dark.fits", "--out-dir", "@/out", "@@/light.fits"},
     "@/light.fits",
     "is a FITS file, not a list of paths"},
    {"list_is_a_directory",
     nothing,
     {"--dark", "@/dark.fits", "--out-dir", "@/out", "@@/out"},
     "@/out",
     "is a directory, not a list of paths"},
    {"list_without_a_name",
     nothing,
     {"--dark", "@/dark.fits", "--out-dir", "@/out", "@"},
     "@",
     "names no list"},
    {"batch_existing_output",
     [](const TempDir& d) { write_text(d / "out/light_corrected.fits", "mine"); },
     {"--dark", "@/dark.fits", "--subtract", "--out-dir", "@/out", "@/light.fits"},
     "@/out/light_corrected.fits",
     "exists already"},
    {"jobs_zero",
     nothing,
     {"--dark", "@/dark.fits", "--out-dir", "@/out", "--jobs=0", "@/light.fits"},
     "--jobs",
     "'0' is not a whole number from 1 to 256"},
    {"jobs_too_many",
     nothing,
     {"--dark", "@/dark.fits", "--out-dir", "@/out", "--jobs", "257", "@/light.fits"},
     "--jobs",
     "'257' is not"},
    {"jobs_not_a_number",
     nothing,
     {"--dark", "@/dark.fits", "--out-dir", "@/out", "--jobs", "two", "@/light.fits"},
     "--jobs",
     "'two' is not"},
    {"jobs_with_one_light", nothing, good_with({"--jobs", "2"}), "--jobs",
     "goes with LIGHT arguments"},
    {"batch_and_light", nothing, good_with({"@/light.fits"}), "--light", "takes the one light"},
    {"outputs_unknown", nothing, good_with({"--outputs", "matched,flat"}), "--outputs",
     "'flat' is not one of"},
    {"outputs_corrected_without_subtract", nothing, good_with({"--outputs=corrected"}), "--outputs",
     "'corrected' needs --subtract"},
    {"report_named_txt", nothing, good_with({"--report", "@/night.txt"}), "@/night.txt",
     "a report must be named .csv or .json"},
    {"plot_named_jpg", nothing, good_with({"--plot", "@/night.jpg"}), "@/night.jpg",
     "--plot writes a PNG"},
    {"report_exists", [](const TempDir& d) { write_text(d / "night.json", "mine"); },
     good_with({"--report", "@/night.json"}), "@/night.json", "exists already"},
    // The report and the plot never replace a light, nor an output of the run.
    {"report_is_a_light",
     [](const TempDir& d) { link((d / "light.fits").c_str(), (d / "night.json").c_str()); },
     {"--dark", "@/dark.fits", "--out-dir", "@/out", "--report", "@/night.json", "--overwrite",
      "@/night.json"},
     "@/night.json",
     "is one of the input files"},
    {"plot_is_a_light",
     [](const TempDir& d) { link((d / "light.fits").c_str(), (d / "frame.png").c_str()); },
     {"--dark", "@/dark.fits", "--out-dir", "@/out", "--plot", "@/frame.png", "@/light.fits",
      "@/frame.png"},
     "@/frame.png",
     "is one of the input files"},
    {"plot_is_a_preview",
     nothing,
     {"--dark", "@/dark.fits", "--out-dir", "@/out", "--preview", "--overwrite", "--plot",
      "@/out/light_matched.png", "@/light.fits"},
     "@/out/light_matched.png",
     "is also an output of the run, of light @/light.fits"},
    {"given_twice", nothing, good_with({"--dark", "@/dark.fits"}), "--dark", "given twice"},
    {"demo_with_inputs",
     nothing,
     {"--demo", "@/demo", "--light", "@/light.fits"},
     "--light",
     "does not go with --demo"},
};

class BadInput : public ::testing::TestWithParam<BadCase> {};

// "@/" at the start stands for the directory, "@@/" for an @list in it.
std::string expand(const std::string& text, const TempDir& dir) {
  if (text.rfind("@@/", 0) == 0) return "@" + expand(text.substr(1), dir);
  return text.rfind("@/", 0) == 0 ? dir.path() + text.substr(1) : text;
}

TEST_P(BadInput, IsRefusedWithExitTwoAndNothingWritten) {
  const BadCase& c = GetParam();
  TempDir dir;
  write_small_set(dir);
  c.prepare(dir);
  const auto before = list_dir(dir.path()), out_before = list_dir(dir / "out");
  std::vector<std::string> args;
  for (const std::string& a : c.args) args.push_back(expand(a, dir));

  const CliRun run = run_cli(args);
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out, "");
  // Anywhere in the subject and the problem, "@/" stands for the directory.
  std::string subject = expand(c.subject, dir), problem = c.problem;
  for (std::string* text : {&subject, &problem})
    for (size_t at = text->find("@/"); at != std::string::npos; at = text->find("@/", at + 1))
      text->replace(at, 1, dir.path());
  const std::string head = "tenvora-match: " + subject + ": " + problem;
  EXPECT_EQ(run.err.substr(0, head.size()), head) << run.err;
  EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << "one line: " << run.err;
  EXPECT_EQ(list_dir(dir.path()), before);
  EXPECT_EQ(list_dir(dir / "out"), out_before);
}

INSTANTIATE_TEST_SUITE_P(Cases, BadInput, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(BadInputAsUser, UnwritableOutputDirectoryIsRefused) {
  if (geteuid() == 0) GTEST_SKIP() << "root writes everywhere";
  TempDir dir;
  write_small_set(dir);
  chmod((dir / "out").c_str(), 0555);
  const CliRun run = run_cli(
      {"--light", dir / "light.fits", "--dark", dir / "dark.fits", "--out-dir", dir / "out"});
  chmod((dir / "out").c_str(), 0755);
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err, "tenvora-match: " + (dir / "out") + ": not writable: Permission denied\n");
  EXPECT_TRUE(list_dir(dir / "out").empty());
}

}  // namespace
