// Fuzz target: the dialog and the host protocol. A user acts in the dialog at
// random (choices, Subtract Bias, typed or pasted factor text of any length
// and content, the radio buttons, About, Go, Cancel, raw commands and
// messages) while a host misbehaves at random (null and unknown handles,
// failed or odd pixel answers, null titles, images of disagreeing sizes,
// failed new images). Checked: Go runs the work only with every frame the
// mode needs chosen in this activation; nothing is written outside the planes
// the host lent (guard zones around every plane, poisoned for
// AddressSanitizer and checked for their canaries), not even when the host
// lends a new image the plane of a chosen one; every image the user opened is
// left as it was; the dialog ends only through Go or Cancel, with their
// results.
#include <fuzzer/FuzzedDataProvider.h>
#include <sanitizer/asan_interface.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "plugin/dialog.h"
#include "plugin/entry_points.h"
#include "plugin/plugin_state.h"
#include "resources/resource_ids.h"
#include "winlayer/headless_user.h"

namespace {

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "dialog_fuzz: %s\n", what);
  std::abort();
}

void check(bool ok, const char* what) {
  if (!ok) fail(what);
}

constexpr size_t kGuard = 16;              // floats on each side of a plane
constexpr uint32_t kCanary = 0x7fa5a5a5u;  // a signalling NaN no pixel holds
constexpr char kLightHostTitle[] = "ZVL Orvantis Light";

// An image of the host: its plane sits between two guard zones.
struct Image {
  int32_t width = 0;
  int32_t height = 0;
  bool output = false;  // made for the plug-in by HC_NEW_IMAGE
  bool null_title = false;
  std::string title;
  std::vector<float> storage;  // guard, pixels, guard
  std::vector<float> opened;   // the pixels as the image was opened

  size_t count() const { return storage.size() - 2 * kGuard; }
  float* plane() { return storage.data() + kGuard; }
  std::vector<float> pixels() const {
    return std::vector<float>(storage.begin() + kGuard, storage.end() - kGuard);
  }

  void open(int32_t w, int32_t h, float fill) {
    width = w;
    height = h;
    const size_t n = w > 0 && h > 0 ? size_t(w) * size_t(h) : 0;
    storage.assign(n + 2 * kGuard, 0.0f);
    for (size_t i = 0; i < n; ++i) plane()[i] = fill + float(i % 7);
    for (size_t i = 0; i < kGuard; ++i) {
      std::memcpy(&storage[i], &kCanary, 4);
      std::memcpy(&storage[kGuard + n + i], &kCanary, 4);
    }
    opened = pixels();
    ASAN_POISON_MEMORY_REGION(storage.data(), kGuard * 4);
    ASAN_POISON_MEMORY_REGION(plane() + n, kGuard * 4);
  }

  bool guards_intact() {
    ASAN_UNPOISON_MEMORY_REGION(storage.data(), storage.size() * 4);
    for (size_t i = 0; i < kGuard; ++i)
      if (std::memcmp(&storage[i], &kCanary, 4) != 0 ||
          std::memcmp(&storage[kGuard + count() + i], &kCanary, 4) != 0)
        return false;
    return true;
  }
};

enum Role { kNoRole = -1, kLight, kDark, kBias };

int role_of(int id) {
  switch (id) {
    case IDC_CHOOSE_IMAGE:
      return kLight;
    case IDC_CHOOSE_DARK:
      return kDark;
    case IDC_CHOOSE_BIAS:
      return kBias;
  }
  return kNoRole;
}

// The host and the user of one input; the host's answers come from the input.
struct Session {
  explicit Session(FuzzedDataProvider& in) : in(in) {}

  FuzzedDataProvider& in;
  bool light_edition = false;
  std::map<ImageHandle, std::unique_ptr<Image>> images;  // this activation's
  // Activation state as the host sees it.
  int choosing = kNoRole;      // the choice under way
  ImageHandle selected = 0;    // what HC_SELECT_IMAGE answered for it
  ImageHandle chosen[3] = {};  // successful choices, by role
  bool bias_mode = false;      // Subtract Bias as shown when Go was sent
  bool in_go = false;
  bool run_started = false;

  Image* find(ImageHandle handle) {
    auto found = images.find(handle);
    return found == images.end() ? nullptr : found->second.get();
  }

  // Any handle: an open image, none, one the host never gave out.
  ImageHandle any_handle() {
    switch (in.ConsumeIntegralInRange(0, 5)) {
      case 0:
        return 0;
      case 1:
        return in.PickValueInArray<ImageHandle>({-1, 99, 1000000});
      default:
        return in.ConsumeIntegralInRange<ImageHandle>(1, ImageHandle(images.size()));
    }
  }

  HostWord command(HostWord code, HostWord p1, HostWord p2, HostWord p3);
  void start_run();
};

Session* session = nullptr;

HostWord WINAPI host_callback(HostWord code, HostWord p1, HostWord p2, HostWord p3) {
  return session->command(code, p1, p2, p3);
}

// The pipeline's first command: it may run only with every needed frame
// chosen in this activation, and only inside Go.
void Session::start_run() {
  if (run_started) return;
  run_started = true;
  check(in_go, "the pipeline ran outside Go");
  check(chosen[kLight] && chosen[kDark], "the pipeline ran without the light image and the dark");
  check(!bias_mode || chosen[kBias], "the pipeline ran in bias mode without a bias frame");
}

HostWord Session::command(HostWord code, HostWord p1, HostWord p2, HostWord p3) {
  const HostWord command = light_edition ? code - LIGHT_COMMAND_OFFSET : code;
  Image* image = find(p1);
  switch (command) {
    case HC_SELECT_IMAGE:
      check(choosing != kNoRole && p1 == SELECT_IMAGE_KIND && p2 == 0 && p3 == 0,
            "HC_SELECT_IMAGE outside a choice");
      selected = any_handle();
      return selected;
    case HC_GET_PIXELS: {
      check(p2 != 0, "HC_GET_PIXELS without a place for the plane");
      const HostWord result =
          in.PickValueInArray<HostWord>({1, 1, 1, 2, 0, -1, 3, 0x10001, HostWord(INT32_MIN)});
      // A known image lends its plane (mostly); an unknown one lends nothing
      // or a null pointer.
      float* lent = nullptr;
      const int supply = in.ConsumeIntegralInRange(0, 3);
      if (supply == 0) return result;
      if (image && supply > 1) lent = image->plane();
      // Now and then a new image is lent the plane of a chosen one.
      if (image && image->output && in.ConsumeIntegralInRange(0, 7) == 0) {
        Image* over = find(chosen[in.ConsumeIntegralInRange(0, 2)]);
        if (over) lent = over->plane();
      }
      *reinterpret_cast<float**>(p2) = lent;
      if (choosing != kNoRole && p1 == selected && (result == 1 || result == 2) && lent)
        chosen[choosing] = p1;
      return result;
    }
    case HC_GET_TITLE:
      check(choosing != kNoRole, "HC_GET_TITLE outside a choice");
      return image && !image->null_title ? reinterpret_cast<HostWord>(image->title.c_str()) : 0;
    case HC_GET_SIZE:
      start_run();
      if (image && p2 && p3) {
        *reinterpret_cast<int32_t*>(p2) = image->width;
        *reinterpret_cast<int32_t*>(p3) = image->height;
      }
      return in.ConsumeIntegralInRange(0, 1);
    case HC_NEW_IMAGE: {
      start_run();
      check(p1 > 0 && p2 > 0 && p1 <= 64 && p2 <= 64 && p3 == 0, "HC_NEW_IMAGE of an odd size");
      switch (in.ConsumeIntegralInRange(0, 5)) {
        case 0:
          return 0;
        case 1:
          return 777;  // a handle for nothing
        default: {
          const ImageHandle handle = ImageHandle(images.size()) + 1;
          auto made = std::make_unique<Image>();
          made->open(int32_t(p1), int32_t(p2), 0.0f);
          made->output = true;
          images[handle] = std::move(made);
          return handle;
        }
      }
    }
    case HC_SET_TITLE: {
      check(p2 != 0, "HC_SET_TITLE without a title");
      const std::string title = reinterpret_cast<const char*>(p2);
      if (image) image->title = title;
      return image ? 1 : 0;
    }
    case HC_UPDATE:
      check(p2 == 1 && p3 == 1, "HC_UPDATE with odd parameters");
      return image ? 1 : 0;
  }
  fail("a command the host does not know");
}

// One user action; returns the control identifier of a command sent, or 0.
int act(Session& s, HWND dialog) {
  FuzzedDataProvider& in = s.in;
  const int action = in.ConsumeIntegralInRange(0, 11);
  int id = 0;
  bool raw = false;
  switch (action) {
    case 0:
    case 1:
    case 2:
      id = in.PickValueInArray({IDC_CHOOSE_IMAGE, IDC_CHOOSE_DARK, IDC_CHOOSE_BIAS});
      break;
    case 3:
      id = IDC_SUBTRACT_BIAS;
      break;
    case 4:
      id = in.ConsumeBool() ? IDC_SUBTRACT : IDC_DONT_SUBTRACT;
      break;
    case 5:
      id = in.PickValueInArray({IDC_GO, IDC_GO, IDC_ABOUT, IDC_CANCEL});
      break;
    case 6:
    case 7: {
      const std::string text = in.ConsumeRandomLengthString(24);
      if (action == 6)
        headless::type_text(dialog, IDC_BIAS_FACTOR, text);
      else
        headless::paste_text(dialog, IDC_BIAS_FACTOR, text);
      return 0;
    }
    case 8: {
      // Any message but a command: none has an action.
      UINT message = in.ConsumeIntegral<uint16_t>();
      if (message == WM_COMMAND || message == WM_INITDIALOG) message = 0;
      plugin_dialog_proc(dialog, message, in.ConsumeIntegral<WPARAM>(), 0);
      return 0;
    }
    default:
      raw = true;
      id = in.ConsumeBool() ? in.ConsumeIntegral<uint16_t>()
                            : in.PickValueInArray({IDC_GO, IDC_CANCEL, IDC_CHOOSE_IMAGE,
                                                   IDC_CHOOSE_DARK, IDC_CHOOSE_BIAS,
                                                   IDC_SUBTRACT_BIAS, IDC_ABOUT, IDC_BIAS_FACTOR});
      break;
  }
  s.choosing = role_of(id);
  s.selected = 0;
  s.in_go = id == IDC_GO;
  if (s.in_go) s.bias_mode = headless::control(dialog, IDC_SUBTRACT_BIAS).check == BST_CHECKED;
  if (raw)
    headless::send_command(dialog, id, in.ConsumeIntegral<uint16_t>());
  else
    headless::click(dialog, id);
  s.choosing = kNoRole;
  s.in_go = false;
  return id;
}

// One activation on a host with up to four open images.
void activation(Session& s, int32_t width, int32_t height) {
  FuzzedDataProvider& in = s.in;
  s.images.clear();
  const int opened = in.ConsumeIntegralInRange(1, 4);
  for (ImageHandle handle = 1; handle <= opened; ++handle) {
    auto image = std::make_unique<Image>();
    const bool other_size = in.ConsumeIntegralInRange(0, 5) == 0;
    image->open(other_size ? in.ConsumeIntegralInRange(0, 20) : width,
                other_size ? in.ConsumeIntegralInRange(0, 20) : height,
                float(in.ConsumeIntegralInRange(0, 50)));
    image->null_title = in.ConsumeIntegralInRange(0, 4) == 0;
    image->title = in.ConsumeRandomLengthString(300);
    s.images[handle] = std::move(image);
  }
  s.choosing = kNoRole;
  for (ImageHandle& handle : s.chosen) handle = 0;
  s.run_started = false;
  const ImageHandle active = s.any_handle();

  int ended_by = 0;
  headless::reset();
  headless::set_user([&](HWND dialog) {
    for (int steps = 0; steps < 48 && in.remaining_bytes() > 0; ++steps) {
      const int id = act(s, dialog);
      if (!headless::is_open(dialog)) {
        check(id == IDC_GO || id == IDC_CANCEL, "the dialog ended without Go or Cancel");
        ended_by = id;
        return;
      }
    }
    check(headless::click(dialog, IDC_CANCEL), "Cancel cannot be clicked");
    check(!headless::is_open(dialog), "Cancel left the dialog open");
    ended_by = IDC_CANCEL;
  });
  const INT_PTR result = pi_activate(active, nullptr);
  check(result == ended_by, "pi_activate returned another result than the dialog's end");
  for (const headless::ShownMessageBox& box : headless::message_boxes())
    check(box.owner != nullptr, "a message box without the dialog as owner");
  headless::reset();

  // Every image the user opened, the chosen ones included, is only read.
  for (auto& entry : s.images) {
    Image& image = *entry.second;
    check(image.guards_intact(), "a write outside a plane the host lent");
    check(image.output || image.pixels() == image.opened, "an image that is not an output changed");
  }
  // The images close: a plane pointer kept from this activation and used in
  // the next one is a use after free.
  s.images.clear();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const PluginState load_state = plugin_state;
  plugin_state = load_state;
  FuzzedDataProvider in(data, size);
  Session s(in);
  session = &s;

  const std::string main_title =
      in.ConsumeBool() ? kLightHostTitle : in.ConsumeRandomLengthString(40);
  HWND main_window = headless::create_window(main_title);
  // Exactly the texts' sizes, so that a longer write is an overrun. Now and
  // then the host activates the plug-in without initializing it.
  std::vector<char> name(sizeof "Tenvora"), description(sizeof "Tenvora.");
  if (in.ConsumeIntegralInRange(0, 15) != 0) {
    check(pi_initialize(&host_callback, name.data(), description.data(), main_window) == 1,
          "pi_initialize did not return 1");
    s.light_edition = std::strcmp(main_title.c_str(), kLightHostTitle) == 0;
  }

  const int32_t width = in.ConsumeIntegralInRange(1, 24);
  const int32_t height = in.ConsumeIntegralInRange(1, 24);
  for (int n = in.ConsumeIntegralInRange(1, 3); n > 0; --n) activation(s, width, height);

  headless::destroy_window(main_window);
  session = nullptr;
  return 0;
}
