// Frames, a host with the chosen images open, and the plug-in state set as
// the dialog leaves it at Go, for running the pipeline directly.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "matching/matched_dark.h"
#include "plugin/plugin_state.h"
#include "reference_model.h"
#include "testhost/host_emulation.h"

namespace matching_test {

constexpr int32_t kWidth = 24;
constexpr int32_t kHeight = 21;

// Handles in the order the images are opened and made.
enum : ImageHandle { kActive = 1, kLight, kDark, kBias, kGlow, kHot, kMatched, kCorrected };

// A light image, dark and bias frames with strong glow towards the first
// column and the last row (so that the levels need rounding), hot pixels on
// the borders and inside, a cross of hot pixels whose hot-pixel plane keeps a
// background, and uneven values.
reference::Inputs sample_frames(uint32_t seed = 1);

struct Mode {
  bool use_bias;
  int32_t bias_factor;
  bool subtract;
};

// The commands a run on the sample frames sends, as the host logs them.
std::string expected_commands(const Mode& mode);

// Equal bit for bit, any NaN matching any NaN.
::testing::AssertionResult same_pixels(const std::vector<float>& expected,
                                       const std::vector<float>& actual);

class PipelineTest : public ::testing::Test {
 protected:
  void SetUp() override { saved_ = plugin_state; }
  void TearDown() override;

  // Opens "Active", "Light", "Dark" and "Bias" in a new host (the active
  // image with its own size).
  void open_images(const reference::Inputs& in, int32_t active_width = kWidth,
                   int32_t active_height = kHeight, bool light_edition = false);
  // Opens the images and chooses them as the dialog would.
  void open(const reference::Inputs& in, const Mode& mode, int32_t active_width = kWidth,
            int32_t active_height = kHeight);

  // What the dialog tells the user about a run; empty for a run that was done.
  static std::string message_of(const RunOutcome& outcome);

  const testhost::HostImage& image(ImageHandle handle) { return *host_->find(handle); }

  std::unique_ptr<testhost::HostEmulation> host_;

 private:
  PluginState saved_;
};

}  // namespace matching_test
