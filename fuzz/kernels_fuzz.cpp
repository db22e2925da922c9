// Fuzz target: the frame kernels and the whole matched-dark pipeline over
// random frame sizes (thin and tiny ones favoured) and random pixel bit
// patterns. Every plane is a vector of exactly its pixel count, so that
// AddressSanitizer reports any read or write past it.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "kernels/kernels.h"
#include "kernels/nan_order.h"
#include "matching/matched_dark.h"
#include "plugin/plugin_state.h"
#include "testhost/host_emulation.h"
#include "tests/matching/reference_model.h"
#include "winlayer/headless_user.h"

namespace {

typedef std::vector<float> Plane;

// The frame of the kernels' checks, for the report of a failure.
FrameGeometry current_frame;

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "kernels_fuzz: %s (frame %d x %d)\n", what, int(current_frame.width),
               int(current_frame.height));
  std::abort();
}

void check(bool ok, const char* what) {
  if (!ok) fail(what);
}

uint32_t bits_of(float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

float float_of(uint32_t bits) {
  float value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

// Bit for bit, NaN payloads included.
bool same_pixels(const Plane& expected, const Plane& actual) {
  if (expected.size() != actual.size()) return false;
  for (size_t i = 0; i < expected.size(); ++i)
    if (bits_of(expected[i]) != bits_of(actual[i])) return false;
  return true;
}

// Equal values (zeros of either sign alike) or both NaN: what two correct
// computations agree on when the order of equal medians is not fixed.
bool same_values(const Plane& a, const Plane& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (!(a[i] == b[i] || (std::isnan(a[i]) && std::isnan(b[i])))) return false;
  return true;
}

// A frame side: tiny and thin sizes (no interior, no darkest-block candidate,
// empty hot-pixel cells) as often as the rest up to 64, now and then a
// negative one, as a host may report (the pipeline refuses it; the whole-plane
// kernels must read nothing then).
int32_t frame_side(FuzzedDataProvider& in) {
  switch (in.ConsumeIntegralInRange(0, 4)) {
    case 0:
      return in.ConsumeIntegralInRange<int32_t>(0, 3);
    case 1:
      return in.ConsumeIntegralInRange<int32_t>(4, 17);
    case 2:
      return in.PickValueInArray<int32_t>({12, 13, 15, 16, 20, 21, -1, -7});
    default:
      return in.ConsumeIntegralInRange<int32_t>(0, 64);
  }
}

size_t pixel_count(int32_t width, int32_t height) {
  return width > 0 && height > 0 ? size_t(width) * size_t(height) : 0;
}

// Values that the kernels' comparisons, guards and roundings turn on.
const uint32_t kSpecialBits[] = {
    0x00000000u, 0x80000000u, 0x3f800000u, 0xbf800000u, 0x3fa00000u,  // 0, -0, 1, -1, 1.25
    0x40000000u, 0x40800000u, 0x40a00000u, 0xc0000000u, 0xc0400000u,  // 2, 4, 5, -2, -3
    0x7fc00000u, 0xffc12345u, 0x7f800001u, 0x7f800000u, 0xff800000u,  // NaNs, infinities
    0x00000001u, 0x807fffffu, 0x7f7fffffu, 0xff7fffffu, 0x7149f2cau,  // subnormals, max, 1e30
    0x4b800000u, 0x4affffffu, 0x4b1fffffu, 0x4b000001u, 0x3e4ccccdu,  // 2^24, under 2^23, 5*2^21-1
};

// One plane of exactly its size, in one of a few styles: raw bit patterns,
// small whole numbers (hot pixels over a flat background), or values from the
// table above mixed with small numbers.
Plane random_plane(FuzzedDataProvider& in, size_t count) {
  Plane plane(count);
  const int style = in.ConsumeIntegralInRange(0, 2);
  const float background = float(in.ConsumeIntegralInRange(-4, 100));
  for (float& value : plane) {
    if (style == 0) {
      value = float_of(in.ConsumeIntegral<uint32_t>());
    } else if (style == 1) {
      const uint8_t byte = in.ConsumeIntegral<uint8_t>();
      value = byte < 200 ? background + float(byte % 4) : float(byte) * 10.0f;
    } else {
      const uint8_t byte = in.ConsumeIntegral<uint8_t>();
      value = byte < 25 ? float_of(kSpecialBits[byte]) : float(int(byte) - 140);
    }
  }
  return plane;
}

// A signalling NaN that no kernel writes: what a pixel left unwritten holds.
constexpr uint32_t kCanary = 0x7fa5a5a5u;

// A position a search may have left behind: in the frame, or from an earlier,
// larger frame.
int32_t old_position(FuzzedDataProvider& in) {
  return in.ConsumeBool() ? in.ConsumeIntegralInRange<int32_t>(0, 70)
                          : in.ConsumeIntegralInRange<int32_t>(0, INT32_MAX - 1);
}

// The vector paths, to be compared with the reference: SSE2, and AVX2 where
// the processor has it.
std::vector<const KernelTable*> vector_paths() {
  std::vector<const KernelTable*> paths = {&sse2_kernels};
  if (cpu_has_avx2()) paths.push_back(&avx2_kernels);
  return paths;
}

// Subtraction and addition, once and repeated, and the difference into a
// third plane: every vector path against the reference, on two planes and on
// one plane as both operands.
void check_plane_arithmetic(const Plane& a, const Plane& b, int32_t times) {
  Plane out = b;
  copy_plane(current_frame, a.data(), out.data());
  check(same_pixels(a, out), "copy_plane");

  const struct {
    const char* name;
    void (*KernelTable::*kernel)(FrameGeometry, float*, const float*);
  } combinations[] = {{"subtract_plane", &KernelTable::subtract_plane},
                      {"add_plane", &KernelTable::add_plane}};
  for (const auto& combination : combinations) {
    const auto kernel = combination.kernel;
    Plane expected = a, expected_self = a;
    (reference_kernels.*kernel)(current_frame, expected.data(), b.data());
    (reference_kernels.*kernel)(current_frame, expected_self.data(), expected_self.data());
    for (const KernelTable* path : vector_paths()) {
      Plane actual = a, self = a;
      (path->*kernel)(current_frame, actual.data(), b.data());
      (path->*kernel)(current_frame, self.data(), self.data());
      check(same_pixels(expected, actual), combination.name);
      check(same_pixels(expected_self, self), combination.name);
    }
  }

  Plane expected = a;
  for (int32_t k = 0; k < times; ++k)
    reference_kernels.subtract_plane(current_frame, expected.data(), b.data());
  for (const KernelTable* path : vector_paths()) {
    Plane actual(a.size(), float_of(kCanary));
    path->subtract_plane_times(current_frame, actual.data(), a.data(),
                               times > 0 ? b.data() : nullptr, times);
    check(same_pixels(expected, actual), "subtract_plane_times");
  }
  expected = a;
  reference_kernels.subtract_plane(current_frame, expected.data(), b.data());
  for (const KernelTable* path : vector_paths()) {
    Plane difference(a.size(), float_of(kCanary));
    path->difference_plane(current_frame, difference.data(), a.data(), b.data());
    check(same_pixels(expected, difference), "difference_plane");
  }
}

// Separation alone and the fused split of the dark (with and without a bias)
// against the reference kernels one after the other. The outputs start as
// canaries, so a pixel that a path leaves unwritten differs.
void check_separation(const Plane& dark, const Plane& bias) {
  const Plane canaries(dark.size(), float_of(kCanary));
  Plane expected = canaries;
  reference_kernels.separate_hot_pixels(current_frame, dark.data(), expected.data());
  for (const KernelTable* path : vector_paths()) {
    Plane actual = canaries;
    path->separate_hot_pixels(current_frame, dark.data(), actual.data());
    check(same_pixels(expected, actual), "separate_hot_pixels");
  }

  for (const float* bias_plane : {static_cast<const float*>(nullptr), bias.data()}) {
    Plane source = dark, glow = canaries;
    if (bias_plane) reference_kernels.subtract_plane(current_frame, source.data(), bias_plane);
    reference_kernels.separate_hot_pixels(current_frame, source.data(), glow.data());
    reference_kernels.subtract_plane(current_frame, source.data(),
                                     glow.data());  // now the hot pixels
    for (const KernelTable* path : vector_paths()) {
      Plane split_glow = canaries, split_hot = canaries;
      path->split_dark_frame(current_frame, dark.data(), bias_plane, split_glow.data(),
                             split_hot.data());
      check(same_pixels(glow, split_glow), "split_dark_frame: glow");
      check(same_pixels(source, split_hot), "split_dark_frame: hot pixels");
    }
  }
}

// Scaling, sum and the bias added, against the reference kernels. With no
// repetition the bias plane must not be read, so it is null.
void check_scale_and_sum(FuzzedDataProvider& in, const Plane& a, const Plane& b, int32_t times) {
  const float glow_ratio = float_of(in.PickValueInArray(kSpecialBits));
  const float hot_ratio = float_of(in.ConsumeIntegral<uint32_t>());
  Plane glow = a, hot = b, matched(a.size()), bias = a;
  for (size_t i = 0; i < a.size(); ++i) {
    glow[i] = product_of(glow_ratio, glow[i]);
    hot[i] = product_of(hot_ratio, hot[i]);
  }
  copy_plane(current_frame, glow.data(), matched.data());
  reference_kernels.add_plane(current_frame, matched.data(), hot.data());
  for (int32_t k = 0; k < times; ++k)
    reference_kernels.add_plane(current_frame, matched.data(), bias.data());
  const float* bias_plane = times > 0 ? bias.data() : nullptr;
  for (const KernelTable* path : vector_paths()) {
    // In place, then from the unchanged planes into others.
    Plane glow_out = a, hot_out = b, matched_out(a.size());
    path->scale_and_sum(current_frame, glow_out.data(), glow_ratio, hot_out.data(), hot_ratio,
                        bias_plane, times, matched_out.data(), glow_out.data(), hot_out.data());
    check(same_pixels(glow, glow_out), "scale_and_sum: glow");
    check(same_pixels(hot, hot_out), "scale_and_sum: hot pixels");
    check(same_pixels(matched, matched_out), "scale_and_sum: matched");
    Plane glow_apart(a.size()), hot_apart(a.size()), matched_apart(a.size());
    path->scale_and_sum(current_frame, a.data(), glow_ratio, b.data(), hot_ratio, bias_plane, times,
                        matched_apart.data(), glow_apart.data(), hot_apart.data());
    check(same_pixels(glow, glow_apart) && same_pixels(hot, hot_apart) &&
              same_pixels(matched, matched_apart),
          "scale_and_sum into other planes");
  }
}

// The searches: every path records what the reference records, starting from
// the same old records, and only positions its rules allow.
void check_searches(FuzzedDataProvider& in, const Plane& a, const Plane& b) {
  const int32_t width = current_frame.width;
  const int32_t height = current_frame.height;
  const BlockAnchor old_anchor = {in.ConsumeIntegralInRange<int32_t>(0, 70),
                                  in.ConsumeIntegralInRange<int32_t>(0, 70)};
  BlockAnchor anchor = old_anchor;
  reference_kernels.find_darkest_block(current_frame, a.data(), &anchor);
  check((anchor.x == old_anchor.x && anchor.y == old_anchor.y) ||
            (anchor.x >= 4 && anchor.y >= 4 && anchor.x + 3 <= width - 9 &&
             anchor.y + 3 <= height - 9 && (anchor.x - 4) % 5 == 0 && (anchor.y - 4) % 5 == 0),
        "find_darkest_block recorded a block off the grid");
  for (const KernelTable* path : vector_paths()) {
    BlockAnchor path_anchor = old_anchor;
    path->find_darkest_block(current_frame, a.data(), &path_anchor);
    check(path_anchor.x == anchor.x && path_anchor.y == anchor.y, "find_darkest_block");
  }

  HotPixelList old_hot;
  for (int k = 0; k < 9; ++k) {
    old_hot.x[k] = old_position(in);
    old_hot.y[k] = old_position(in);
  }
  HotPixelList hot = old_hot;
  const uint32_t found = reference_kernels.find_hot_pixels(current_frame, b.data(), &hot);
  for (int k = 0; k < 9; ++k) {
    const int32_t x = hot.x[k], y = hot.y[k];
    const bool in_cell = x < width && y < height && x >= (k % 3) * (width / 3) &&
                         y >= (k / 3) * (height / 3) && b[x + size_t(width) * y] > 0.0f;
    check((found >> k) & 1u ? in_cell : x == old_hot.x[k] && y == old_hot.y[k],
          "find_hot_pixels recorded a position outside its cell");
  }
  for (const KernelTable* path : vector_paths()) {
    HotPixelList path_hot = old_hot;
    check(path->find_hot_pixels(current_frame, b.data(), &path_hot) == found &&
              std::memcmp(&path_hot, &hot, sizeof hot) == 0,
          "find_hot_pixels");
  }
}

// Runs every kernel on planes of exactly the frame size: reads and writes
// past them are AddressSanitizer's to find.
void check_kernels(FuzzedDataProvider& in, int32_t width, int32_t height) {
  current_frame = {width, height};
  const size_t count = pixel_count(width, height);
  const Plane a = random_plane(in, count);
  const Plane b = random_plane(in, count);
  const int32_t times = in.ConsumeIntegralInRange<int32_t>(-1, 3);
  check_plane_arithmetic(a, b, times);
  check_separation(a, b);
  check_scale_and_sum(in, a, b, times);
  check_searches(in, a, b);

  // The measurements read through pixel_at, which answers without reading
  // on a frame without pixels.
  const BlockAnchor anchor = {in.ConsumeIntegralInRange<int32_t>(0, 70),
                              in.ConsumeIntegralInRange<int32_t>(0, 70)};
  HotPixelList hot;
  for (int k = 0; k < 9; ++k) hot.x[k] = hot.y[k] = old_position(in);
  for (const Plane* plane : {&a, &b}) {
    glow_level(current_frame, plane->data(), anchor);
    mean_at_hot_pixels(current_frame, plane->data(), hot);
    mean_background_at_hot_pixels(current_frame, plane->data(), hot);
  }
  const int32_t extreme[] = {INT32_MIN, -1, 0, 1, width, INT32_MAX};
  for (int32_t x : extreme)
    for (int32_t y : extreme) {
      pixel_at(current_frame, a.data(), x, y);
      if (x != INT32_MIN && x != INT32_MAX && y != INT32_MIN && y != INT32_MAX)
        neighbour_median(current_frame, b.data(), x, y);
    }
}

bool reference_applies(const reference::Inputs& frames) {
  // The reference takes its medians by sorting, which is sound only without
  // NaN; with every value finite and far below the float range, no
  // difference, sum or bias step of the run makes one before the medians.
  for (const Plane* plane : {&frames.light, &frames.dark, &frames.bias})
    for (float v : *plane)
      if (!(std::fabs(v) <= 1e30f)) return false;
  return true;
}

// The pipeline through the host emulation: a host with the active image and
// the chosen frames (sizes agreeing or not, images shared between roles or
// not), failures of new images and lent planes on demand, and the state as
// the dialog leaves it at Go.
void check_pipeline(FuzzedDataProvider& in, int32_t width, int32_t height) {
  reference::Inputs frames;
  frames.width = width;
  frames.height = height;
  frames.use_bias = in.ConsumeBool();
  frames.bias_factor = in.ConsumeIntegralInRange<int32_t>(-2, 3);
  const bool subtract = in.ConsumeBool();
  int32_t sides[4][2];  // active, light, dark, bias
  for (auto& side : sides) {
    const bool own = in.ConsumeIntegralInRange(0, 7) == 0;
    side[0] = own ? frame_side(in) : width;
    side[1] = own ? frame_side(in) : height;
  }
  frames.light = random_plane(in, pixel_count(sides[1][0], sides[1][1]));
  frames.dark = random_plane(in, pixel_count(sides[2][0], sides[2][1]));
  frames.bias = random_plane(in, pixel_count(sides[3][0], sides[3][1]));
  frames.darkest_block = {in.ConsumeIntegralInRange<int32_t>(0, 70),
                          in.ConsumeIntegralInRange<int32_t>(0, 70)};
  for (auto& position : frames.hot_pixels) position = {old_position(in), old_position(in)};

  testhost::HostEmulation host;
  const ImageHandle active = host.add_image("Active", sides[0][0], sides[0][1]);
  const ImageHandle light = host.add_image("Light", sides[1][0], sides[1][1], frames.light);
  const ImageHandle dark = host.add_image("Dark", sides[2][0], sides[2][1], frames.dark);
  const ImageHandle bias = host.add_image("Bias", sides[3][0], sides[3][1], frames.bias);
  // The same image in two roles: the light image as the dark or the bias frame.
  const int shared = in.ConsumeIntegralInRange(0, 7);
  const ImageHandle dark_pick = shared == 1 ? light : dark;
  const ImageHandle bias_pick = shared == 2 ? light : shared == 3 ? dark : bias;
  for (int n = in.ConsumeIntegralInRange(0, 2); n > 0; --n)
    host.fail_new_image(in.ConsumeIntegralInRange(1, 4));
  for (int n = in.ConsumeIntegralInRange(0, 2); n > 0; --n)
    host.fail_get_pixels(in.ConsumeIntegralInRange(1, 4), in.ConsumeIntegralInRange(-1, 3),
                         in.ConsumeBool());

  PluginState& s = plugin_state;
  s.host_callback = testhost::HostEmulation::callback();
  s.light_host = 0;
  s.active_image = active;
  s.light_image = light;
  s.dark_image = dark_pick;
  s.bias_image = bias_pick;
  s.light_plane = host.find(light)->pixels.data();
  s.dark_plane = host.find(dark_pick)->pixels.data();
  s.bias_plane = host.find(bias_pick)->pixels.data();
  s.image_chosen = s.dark_chosen = s.bias_chosen = 1;
  s.use_bias = frames.use_bias;
  s.bias_factor = frames.bias_factor;
  s.subtract_matched = subtract;
  s.darkest_block = {frames.darkest_block.x, frames.darkest_block.y};
  for (int k = 0; k < 9; ++k) {
    s.hot_pixels.x[k] = frames.hot_pixels[k].x;
    s.hot_pixels.y[k] = frames.hot_pixels[k].y;
  }

  const RunOutcome outcome = run_matched_dark();
  frames.width = s.frame_width;
  frames.height = s.frame_height;

  // Outputs are the images after the four opened here, by their final titles.
  const testhost::HostImage* outputs[4] = {};  // glow, hot, matched, corrected
  bool ran = false;
  for (const testhost::HostImage& image : host.images()) {
    if (image.handle <= bias) continue;
    check(image.width == frames.width && image.height == frames.height,
          "a new image of another size than the active image");
    const char* titles[] = {"Glow Dark Frame", "Hot Dark Frame",
                            frames.use_bias ? "Matched Dark Frame + Bias" : "Matched Dark Frame",
                            "Corrected Image"};
    for (int k = 0; k < 4; ++k)
      if (image.title == titles[k]) outputs[k] = &image;
    ran = ran || image.title == titles[2];
  }
  // The frames are only read.
  check(same_pixels(host.find(dark)->pixels, frames.dark), "the dark frame changed");
  check(same_pixels(host.find(bias)->pixels, frames.bias), "the bias frame changed");
  check(same_pixels(host.find(light)->pixels, frames.light), "the light image changed");
  // A run that stopped before the three images says so, and one that made
  // them says done, or names the corrected image the host did not make.
  const bool corrected_missing = subtract && !outputs[3];
  check(
      ran ? (corrected_missing ? outcome.stop == RunStop::kNoImage : outcome.stop == RunStop::kDone)
          : outcome.stop != RunStop::kDone,
      "the outcome does not tell what the run made");
  if (!ran) return;
  check(outputs[0] && outputs[1] && (subtract || !outputs[3]), "outputs other than asked for");

  if (shared != 0 || !reference_applies(frames)) return;
  const reference::Outputs expected = reference::matched_dark(frames);
  check(same_values(outputs[0]->shown.front(), expected.glow_unscaled), "unscaled glow differs");
  check(same_values(outputs[0]->pixels, expected.glow), "glow differs");
  check(same_values(outputs[1]->pixels, expected.hot), "hot pixels differ");
  check(same_values(outputs[2]->pixels, expected.matched), "matched dark differs");
  check(!outputs[3] || same_values(outputs[3]->pixels, expected.corrected), "corrected differs");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const PluginState load_state = plugin_state;
  plugin_state = load_state;
  FuzzedDataProvider in(data, size);
  const int32_t width = frame_side(in);
  const int32_t height = frame_side(in);
  if (in.ConsumeBool())
    check_kernels(in, width, height);
  else
    check_pipeline(in, width, height);
  headless::reset();
  return 0;
}
