#include "tools/tenvora_match/match_light.h"

#include "plugin/plugin_state.h"
#include "tools/tenvora_match/tool_error.h"

MatchedLight match_light(const Frame& light, const std::string& light_title, const DarkSet& set) {
  MatchInput input;
  input.light = &light;
  input.dark = &set.dark;
  input.bias = set.use_bias ? &set.bias : nullptr;
  input.bias_factor = set.bias_factor;
  input.subtract = set.subtract;
  input.light_title = light_title;
  input.dark_title = set.dark_title;
  input.bias_title = set.bias_title;
  MatchRun run = run_match(input);
  if (run.glow_component.size() != light.pixels.size())
    throw InternalError("the host was not shown the glow component");
  // The pipeline leaves its darkest block in the state; the measurement
  // below must find the same one.
  const BlockAnchor run_anchor = plugin_state.darkest_block;
  MatchedLight matched{std::move(run.images), measure_levels(input, run.glow_component)};
  if (matched.levels.darkest_x != run_anchor.x || matched.levels.darkest_y != run_anchor.y)
    throw InternalError("the levels were measured at another darkest block than the run's");
  return matched;
}
