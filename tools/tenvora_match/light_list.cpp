#include "tools/tenvora_match/light_list.h"

#include <map>

#include "fits/frame_list.h"
#include "fits/tool_error.h"

std::vector<std::string> expand_lights(const std::vector<std::string>& arguments,
                                       const std::vector<FileId>& dark_and_bias) {
  return expand_frames(arguments, dark_and_bias, {"tenvora-match", "tenvora-master"}, "LIGHT");
}

std::vector<LightJob> light_jobs(const std::vector<std::string>& lights) {
  std::vector<LightJob> jobs;
  std::map<std::string, std::string> taken;  // prefix -> light
  for (const std::string& light : lights) {
    const std::string name = base_name(light);
    const std::string stem = fits_stem(name);
    const std::string prefix = (stem.empty() ? name : stem) + "_";
    const auto [at, fresh] = taken.emplace(prefix, light);
    if (!fresh && (at->second == light || same_file(at->second, light)))
      throw ToolError(light, at->second == light ? "is given twice"
                                                 : "is given twice (also as " + at->second + ")");
    if (!fresh)
      throw ToolError(light, "its outputs would take the names of those of " + at->second + " (" +
                                 prefix + "*)");
    jobs.push_back({light, prefix});
  }
  return jobs;
}
