#include "matched_dark_fixture.h"

#include <cmath>
#include <cstring>
#include <string>

#include "plugin/run_message.h"
#include "winlayer/headless_user.h"

namespace matching_test {
namespace {

// Deterministic noise in [0, amplitude).
struct Noise {
  uint32_t state;
  float operator()(float amplitude) {
    state = state * 1664525u + 1013904223u;
    return float((state >> 8) % 1000u) / 1000.0f * amplitude;
  }
};

}  // namespace

reference::Inputs sample_frames(uint32_t seed) {
  const int32_t width = kWidth, height = kHeight;
  reference::Inputs in;
  in.width = width;
  in.height = height;
  Noise noise{seed};
  std::vector<float> glow, hot(size_t(width) * size_t(height), 0.0f);
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      float corner = float(x * x + (height - 1 - y) * (height - 1 - y));
      glow.push_back(40000.0f * std::exp(-corner / 60.0f));
    }
  }
  const struct {
    int32_t x, y;
    float value;
  } spots[] = {{0, 0, 300},   {width - 1, 10, 250}, {5, height - 1, 180}, {12, 3, 400},
               {18, 15, 220}, {3, 8, 150},          {10, 11, 330},        {20, 2, 260},
               {7, 17, 190},  {15, 5, 1200},        {14, 5, 500},         {16, 5, 500},
               {15, 4, 500},  {15, 6, 500}};
  for (const auto& spot : spots) hot[size_t(spot.x) + size_t(width) * size_t(spot.y)] = spot.value;
  for (size_t i = 0; i < hot.size(); ++i) {
    int32_t x = int32_t(i % size_t(width));
    in.bias.push_back(100.0f + noise(2.0f));
    in.dark.push_back(in.bias[i] + 20.0f + glow[i] + hot[i] + noise(1.0f));
    in.light.push_back(in.bias[i] + 20.0f + 0.6f * glow[i] + 1.7f * hot[i] +
                       0.5f * float(width - 1 - x) + noise(3.0f));
  }
  for (int32_t k = 0; k < 9; ++k) in.hot_pixels[k] = {k, 2 * k};
  return in;
}

std::string expected_commands(const Mode& mode) {
  const std::string size = " -> 1 (24 x 21)\n";
  std::string log = "HC_GET_SIZE image 1 \"Active\"" + size + "HC_GET_SIZE image 2 \"Light\"" +
                    size + "HC_GET_SIZE image 3 \"Dark\"" + size;
  if (mode.use_bias) log += "HC_GET_SIZE image 4 \"Bias\"" + size;
  for (int image = kGlow; image <= kMatched; ++image) {
    log += "HC_NEW_IMAGE 24 x 21 0 -> image " + std::to_string(image) + "\n";
    log += "HC_GET_PIXELS image " + std::to_string(image) + " -> 1, plane\n";
  }
  log += "HC_UPDATE image 5 1 1 -> 1\n";
  const std::string corrected =
      "HC_NEW_IMAGE 24 x 21 0 -> image 8\n"
      "HC_GET_PIXELS image 8 -> 1, plane\n"
      "HC_SET_TITLE image 8 <- \"Corrected Image\" 0 -> 1\n"
      "HC_UPDATE image 8 \"Corrected Image\" 1 1 -> 1\n";
  const std::string matched = mode.use_bias ? "Matched Dark Frame + Bias" : "Matched Dark Frame";
  if (mode.subtract && !mode.use_bias) log += corrected;
  log += "HC_SET_TITLE image 7 <- \"" + matched +
         "\" 0 -> 1\n"
         "HC_SET_TITLE image 5 <- \"Glow Dark Frame\" 0 -> 1\n"
         "HC_SET_TITLE image 6 <- \"Hot Dark Frame\" 0 -> 1\n"
         "HC_UPDATE image 6 \"Hot Dark Frame\" 1 1 -> 1\n"
         "HC_UPDATE image 5 \"Glow Dark Frame\" 1 1 -> 1\n"
         "HC_UPDATE image 7 \"" +
         matched + "\" 1 1 -> 1\n";
  if (mode.subtract && mode.use_bias) log += corrected;
  return log;
}

::testing::AssertionResult same_pixels(const std::vector<float>& expected,
                                       const std::vector<float>& actual) {
  if (expected.size() != actual.size())
    return ::testing::AssertionFailure()
           << "size " << actual.size() << ", expected " << expected.size();
  for (size_t i = 0; i < expected.size(); ++i) {
    if (std::isnan(expected[i]) && std::isnan(actual[i])) continue;
    if (std::memcmp(&expected[i], &actual[i], sizeof(float)) != 0)
      return ::testing::AssertionFailure()
             << "pixel " << i << " is " << actual[i] << ", expected " << expected[i];
  }
  return ::testing::AssertionSuccess();
}

void PipelineTest::TearDown() {
  headless::reset();
  plugin_state = saved_;
}

void PipelineTest::open_images(const reference::Inputs& in, int32_t active_width,
                               int32_t active_height, bool light_edition) {
  headless::reset();
  host_.reset();  // one host at a time
  host_ = std::make_unique<testhost::HostEmulation>(light_edition);
  host_->add_image("Active", active_width, active_height);
  host_->add_image("Light", in.width, in.height, in.light);
  host_->add_image("Dark", in.width, in.height, in.dark);
  host_->add_image("Bias", in.width, in.height, in.bias);
  // What the kernels' searches keep when they find nothing.
  plugin_state.darkest_block = {in.darkest_block.x, in.darkest_block.y};
  for (int32_t k = 0; k < 9; ++k) {
    plugin_state.hot_pixels.x[k] = in.hot_pixels[k].x;
    plugin_state.hot_pixels.y[k] = in.hot_pixels[k].y;
  }
}

void PipelineTest::open(const reference::Inputs& in, const Mode& mode, int32_t active_width,
                        int32_t active_height) {
  open_images(in, active_width, active_height);
  PluginState& s = plugin_state;
  s.host_callback = testhost::HostEmulation::callback();
  s.light_host = 0;
  s.active_image = kActive;
  s.light_image = kLight;
  s.dark_image = kDark;
  s.bias_image = kBias;
  s.light_plane = host_->find(kLight)->pixels.data();
  s.dark_plane = host_->find(kDark)->pixels.data();
  s.bias_plane = host_->find(kBias)->pixels.data();
  s.glow_plane = s.hot_plane = s.matched_plane = nullptr;
  s.image_chosen = s.dark_chosen = 1;
  s.bias_chosen = mode.use_bias;
  s.use_bias = mode.use_bias;
  s.bias_factor = mode.bias_factor;
  s.subtract_matched = mode.subtract;
}

std::string PipelineTest::message_of(const RunOutcome& outcome) {
  char text[160];
  return run_message(outcome, text, sizeof text) ? text : "";
}

}  // namespace matching_test
