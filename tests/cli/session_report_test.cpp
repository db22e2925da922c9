// The session report's rows and columns, its plot's size, and the noise
// statistics at the glow corner.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "fits/tool_error.h"
#include "tests/cli/temp_dir.h"
#include "tools/tenvora_match/session_plot.h"

namespace {

std::vector<SessionRow> three_lights() {
  SessionRow full{"n1/L_001.fits",
                  "2026-12-08T22:14:05",
                  300.0,
                  -10.5,
                  120.5f,
                  200.0f,
                  0.6f,
                  85.25,
                  50.0f,
                  1.7f,
                  0.2,
                  4,
                  9,
                  10.25,
                  3.5,
                  0.0625};
  full.glow_scale = 0.625f, full.glow_error = 0.002, full.hot_scale = 1.75f;
  full.hot_error = 0.01, full.sky_level = 300.5, full.sky_x = 0.001, full.sky_y = -0.002;
  full.fit_used = 1000, full.fit_clipped = 20, full.fit_left_out = 3, full.fit_noise = 7.5;
  full.corrections = {{"fit", {7.25, 30.5}}, {"plugin", {9.5, 40.25}}};
  full.warnings = {"corner-source", "low-glow"};
  SessionRow second = full;
  second.file = "L_002.fits";
  second.date_obs = "2026-12-08T22:19:05.25";
  second.glow_ratio = 0.1f;
  second.warnings.clear();
  SessionRow bare;  // absent header values, nothing measured, the plug-in's method
  bare.file = "odd, \"name\"\xff.fits";
  bare.method = "plugin";
  return {full, second, bare};
}

TEST(SessionReport, CsvHasOneLinePerLightWithEmptyCellsForAbsentValues) {
  std::ostringstream out;
  write_report(out, ReportFormat::csv, three_lights());
  EXPECT_EQ(out.str(),
            "file,date_obs,exptime,ccd_temp,glow_light,glow_dark,glow_ratio,hot_light,hot_dark,"
            "hot_ratio,exposure_ratio,darkest_x,darkest_y,noise_light,noise_corrected,"
            "negative_share,method,glow_scale,glow_error,hot_scale,hot_error,sky_level,sky_x,"
            "sky_y,fit_used,fit_clipped,fit_left_out,fit_noise,noise_fit,hot_residual_fit,"
            "noise_plugin,hot_residual_plugin,noise_exposure,hot_residual_exposure,warnings\n"
            "n1/L_001.fits,2026-12-08T22:14:05,300.0,-10.5,120.5,200.0,0.6,85.25,50.0,1.7,0.2,4,9,"
            "10.25,3.5,0.0625,fit,0.625,0.002,1.75,0.01,300.5,0.001,-0.002,1000,20,3,7.5,"
            "7.25,30.5,9.5,40.25,,,corner-source;low-glow\n"
            "L_002.fits,2026-12-08T22:19:05.25,300.0,-10.5,120.5,200.0,0.1,85.25,50.0,1.7,0.2,4,9,"
            "10.25,3.5,0.0625,fit,0.625,0.002,1.75,0.01,300.5,0.001,-0.002,1000,20,3,7.5,"
            "7.25,30.5,9.5,40.25,,,\n"
            "\"odd, \"\"name\"\"\xff.fits\",,,,,,,,,,,0,0,,,,plugin,,,,,,,,,,,,,,,,,,\n");
}

TEST(SessionReport, JsonIsValidWithNullsAndValuesThatReadBack) {
  std::ostringstream out;
  write_report(out, ReportFormat::json, three_lights());
  const auto report = nlohmann::ordered_json::parse(out.str());  // throws on invalid UTF-8
  ASSERT_EQ(report.size(), 3u);
  EXPECT_EQ(report[0]["warnings"], nlohmann::ordered_json({"corner-source", "low-glow"}));
  EXPECT_EQ(report[1]["glow_ratio"].get<float>(), 0.1f);
  EXPECT_EQ(report[1]["date_obs"], "2026-12-08T22:19:05.25");
  EXPECT_EQ(report[2]["file"], "odd, \"name\"\xef\xbf\xbd.fits");
  for (const char* key : {"date_obs", "exptime", "glow_ratio", "hot_light", "noise_corrected",
                          "glow_scale", "fit_used", "exposure_ratio", "noise_fit"})
    EXPECT_TRUE(report[2][key].is_null()) << key;
  std::vector<std::string> keys;
  for (const auto& item : report[0].items()) keys.push_back(item.key());
  EXPECT_EQ(keys.front(), "file");
  EXPECT_EQ(keys.back(), "warnings");
  EXPECT_EQ(keys.size(), 35u);
  EXPECT_EQ(report[0]["hot_residual_plugin"], 40.25);
}

TEST(SessionReport, FormatComesFromTheExtension) {
  EXPECT_EQ(report_format("night.csv"), ReportFormat::csv);
  EXPECT_EQ(report_format("a.b/NIGHT.JSON"), ReportFormat::json);
  for (const char* bad : {"night.txt", "night", "csv", "night.csv.gz"})
    EXPECT_THROW(report_format(bad), ToolError) << bad;
  EXPECT_THROW(write_report("/nonexistent-dir/r.csv", three_lights()), ToolError);
}

// Width and height from the PNG's IHDR chunk.
std::pair<uint32_t, uint32_t> png_size(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  unsigned char head[24] = {};
  in.read(reinterpret_cast<char*>(head), sizeof head);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(head), 8), "\x89PNG\r\n\x1a\n");
  auto be32 = [&head](int at) {
    return uint32_t(head[at]) << 24 | uint32_t(head[at + 1]) << 16 | head[at + 2] << 8 |
           head[at + 3];
  };
  return {be32(16), be32(20)};
}

TEST(SessionPlot, IsAPngOfTheFixedSizeForAnyNight) {
  TempDir dir;
  std::vector<SessionRow> by_order = three_lights(), one(1, three_lights()[0]);
  std::vector<SessionRow> by_time(by_order.begin(), by_order.begin() + 2);
  std::vector<SessionRow> unmeasured(3, three_lights()[2]);
  const std::vector<std::vector<SessionRow>> nights = {by_order, by_time, one, unmeasured, {}};
  for (size_t k = 0; k < nights.size(); ++k) {
    const std::string path = dir / ("plot" + std::to_string(k) + ".png");
    write_plot(path, nights[k]);
    EXPECT_EQ(png_size(path), std::make_pair(uint32_t(kPlotWidth), uint32_t(kPlotHeight))) << k;
  }
  EXPECT_THROW(write_plot(dir / "missing/plot.png", by_order), ToolError);
}

TEST(SessionPlot, DateObsParsesOnlyIsoDateAndTime) {
  EXPECT_EQ(parse_date_obs("1970-01-02T00:00:01"), 86401.0);
  EXPECT_EQ(parse_date_obs("2000-02-29T12:30:00.5Z"), 951827400.5);
  for (const char* bad : {"2026-12-08", "2026-12-08 22:14:05", "2026-13-08T22:14:05",
                          "2026-02-29T22:14:05", "2026-12-08T24:00:00", "2026-12-08T22:14:05.",
                          "2026-12-08T22:14:05+01:00", "+026-12-08T22:14:05"})
    EXPECT_FALSE(parse_date_obs(bad)) << bad;
}

TEST(CornerStats, RobustSigmaAndNegativeShareOfTheGlowCorner) {
  // Tiny planes: the corner is the whole plane; NaN is skipped, 100 is an outlier.
  const float odd[] = {1, 2, 3, NAN, 4, 100};  // median 3, deviations 2 1 1 97 0
  const float even[] = {1, 2, 3, 4};           // median 2.5, deviations 1.5 0.5 0.5 1.5
  EXPECT_DOUBLE_EQ(robust_sigma(odd, 3, glow_corner_region(3, 2)), 1.4826);
  EXPECT_DOUBLE_EQ(robust_sigma(even, 2, glow_corner_region(2, 2)), 1.4826);
  const float none[] = {NAN, NAN};
  EXPECT_TRUE(std::isnan(robust_sigma(none, 2, glow_corner_region(2, 1))));
  EXPECT_TRUE(std::isnan(negative_share(none, 2, 1)));

  // 80 x 70: the corner is columns 0-63 of rows 6-69; outside it lie far values.
  // The matched dark is the light less the corrected light, exactly.
  const int32_t w = 80, h = 70;
  std::vector<float> light(w * h, 1e6f), corrected(w * h, 5.0f), matched(w * h, 999995.0f);
  for (int32_t y = 6; y < h; ++y)
    for (int32_t x = 0; x < 64; ++x) {
      light[y * w + x] = (x + y) % 2 ? 10.0f : 14.0f;  // deviation 2 from the median 12
      corrected[y * w + x] = (x + y) % 2 ? -1.0f : 1.0f;
      matched[y * w + x] = (x + y) % 2 ? 11.0f : 13.0f;
    }
  corrected[0] = matched[0] = NAN;
  EXPECT_EQ(glow_corner_region(w, h).y, 6);
  // With the corrected plane, and with its pixels formed from the matched dark.
  for (const float* given : std::initializer_list<const float*>{corrected.data(), nullptr}) {
    const CornerStats stats = corner_stats(light.data(), matched.data(), given, w, h);
    EXPECT_DOUBLE_EQ(stats.noise_light, 2 * 1.4826);
    EXPECT_DOUBLE_EQ(stats.noise_corrected, 1.4826);
    EXPECT_DOUBLE_EQ(stats.negative_share, 2048.0 / (w * h - 1));
  }
}

}  // namespace
