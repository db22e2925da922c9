#include "tools/tenvora_match/match_run.h"

#include "testhost/driver.h"
#include "tools/tenvora_match/tool_error.h"

namespace {

// What the user does in the dialog, in the host's scenario form.
std::string scenario(const MatchInput& in, ImageHandle light, ImageHandle dark, ImageHandle bias) {
  std::string text =
      "choose light " + std::to_string(light) + "\nchoose dark " + std::to_string(dark) + "\n";
  if (in.bias)
    text += "toggle-bias\nchoose bias " + std::to_string(bias) + "\ntype " +
            std::to_string(in.bias_factor) + "\n";
  if (in.subtract) text += "subtract on\n";
  return text + "go\n";
}

ImageHandle add(testhost::HostEmulation& host, const std::string& title, const Frame& frame) {
  return host.add_image(title, frame.width, frame.height, frame.pixels);
}

}  // namespace

MatchRun run_match(const MatchInput& in) {
  testhost::HostEmulation host;
  const ImageHandle light = add(host, in.light_title, *in.light);
  const ImageHandle dark = add(host, in.dark_title, *in.dark);
  const ImageHandle bias = in.bias ? add(host, in.bias_title, *in.bias) : 0;
  std::vector<testhost::Step> steps;
  std::string error;
  if (!testhost::parse_scenario(scenario(in, light, dark, bias), steps, error))
    throw InternalError("scenario: " + error);

  const size_t inputs = host.images().size();
  testhost::Session session = testhost::start_session("tenvora-match");
  const testhost::Activation activation = testhost::activate(session, host, light, steps);
  testhost::end_session(session);
  if (!activation.message_boxes.empty())
    throw InternalError("the plug-in said " + activation.message_boxes.front().line());
  if (!activation.refused_steps.empty())
    throw InternalError("the dialog refused \"" + activation.refused_steps.front() + "\"");
  if (activation.result != 1)
    throw InternalError("the dialog ended with " + std::to_string(activation.result));

  MatchRun run;
  for (size_t k = inputs; k < host.images().size(); ++k) {
    testhost::HostImage* image = host.find(host.images()[k].handle);
    if (run.images.empty() && !image->shown.empty())
      run.glow_component = std::move(image->shown.front());
    run.images.push_back({image->title, {image->width, image->height, std::move(image->pixels)}});
  }
  return run;
}
