#include "tools/tenvora_match/earlier_outputs.h"

#include <sys/stat.h>

#include "fits/frame_list.h"
#include "fits/output_keywords.h"
#include "fits/tool_error.h"
#include "tools/tenvora_match/light_report.h"

namespace {

bool exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

// What the header must say, keyword by keyword; absent: the card must not be.
std::vector<std::pair<std::string, std::optional<std::string>>> expected_cards(
    const RunSettings& s, const LightJob& job) {
  namespace k = output_keyword;
  const bool bias = !s.bias.empty();
  const auto with_bias = [bias](const std::string& value) {
    return bias ? std::optional<std::string>(value) : std::nullopt;
  };
  return {{k::light_file.name, base_name(job.path)},
          {k::dark_file.name, base_name(s.dark)},
          {k::bias_file.name, with_bias(base_name(s.bias))},
          {k::bias_factor.name, with_bias(std::to_string(s.bias_factor))},
          {k::method.name, method_name(s.method)}};
}

}  // namespace

std::optional<LightSummary> earlier_outputs(const RunSettings& s, const LightJob& job) {
  LightSummary summary;
  summary.earlier = true;
  std::vector<std::string> first_cards;
  for (const std::string& kind : s.kinds) {
    const std::string path = join_path(s.out_dir, job.prefix + kind + fits_extension(s));
    const std::string preview = join_path(s.out_dir, job.prefix + kind + ".png");
    if (!exists(path) || (s.preview && !exists(preview))) return std::nullopt;
    std::vector<std::string> cards;
    int32_t width = 0, height = 0;
    try {
      cards = read_fits_cards(path, &width, &height);
    } catch (const ToolError&) {
      return std::nullopt;
    }
    if (card_value(cards, output_keyword::creator.name).value_or("").rfind("tenvora-match", 0) != 0)
      return std::nullopt;
    for (const auto& [keyword, value] : expected_cards(s, job))
      if (card_value(cards, keyword) != value) return std::nullopt;
    summary.light = {"light", job.path, width, height};
    summary.outputs.push_back(
        {path, output_title(kind, !s.bias.empty()), s.preview ? preview : "", ""});
    if (first_cards.empty()) first_cards = std::move(cards);
  }
  describe_earlier_light(summary, first_cards);
  return summary;
}
