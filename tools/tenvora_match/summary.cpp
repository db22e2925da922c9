#include "tools/tenvora_match/summary.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>

namespace {

using Json = nlohmann::ordered_json;

std::string fixed(double value) {
  char text[40];
  std::snprintf(text, sizeof text, "%.2f", value);
  return text;
}

// The shortest text's value, so that a float prints as it reads.
Json json_number(double value, bool is_float) {
  if (!std::isfinite(value)) return nullptr;
  return std::strtod(number_text(value, is_float).c_str(), nullptr);
}

std::string rows_of_clean_square(const DemoParams& p) {
  const int first = p.height - p.clean_size, last = p.height - 1;
  return "columns 0-" + std::to_string(p.clean_size - 1) + ", rows " + std::to_string(first) + "-" +
         std::to_string(last) + " = FITS rows " + std::to_string(first + 1) + "-" +
         std::to_string(last + 1);
}

void print_input(std::ostream& out, const InputInfo& in) {
  out << in.role << (in.role.size() < 5 ? std::string(5 - in.role.size(), ' ') : "") << "  "
      << in.path << "  (" << in.width << " x " << in.height << ")\n";
}

void print_outputs(std::ostream& out, const std::vector<OutputInfo>& outputs) {
  for (const OutputInfo& o : outputs)
    out << "wrote " << o.path << "  \"" << o.title << "\""
        << (o.preview.empty() ? "" : "  and " + o.preview)
        << (o.preview_problem.empty() ? "" : "  (no preview: " + o.preview_problem + ")") << "\n";
}

void print_levels(std::ostream& out, const Measurement& l) {
  out << "glow level   light " << number_text(l.glow_light, true) << ", dark "
      << number_text(l.glow_dark, true) << ", ratio " << number_text(l.glow_ratio, true)
      << "  (darkest block at x " << l.darkest_block.x << ", row " << l.darkest_block.y << ")\n";
  out << "hot level    light " << number_text(l.hot_light, false) << ", dark "
      << number_text(l.hot_dark, true) << ", ratio " << number_text(l.hot_ratio, true) << "\n";
}

void print_demo(std::ostream& out, const DemoReport& d, const Measurement& l) {
  out << "\ndemo: the light holds the dark's glow at scale "
      << number_text(d.params.glow_scale, true) << " and its hot pixels at scale "
      << number_text(d.params.hot_scale, true) << "\n"
      << "  glow  known " << number_text(d.params.glow_scale, true) << "  measured "
      << number_text(l.glow_ratio, true) << "\n"
      << "  hot   known " << number_text(d.params.hot_scale, true) << "  measured "
      << number_text(l.hot_ratio, true) << "\n"
      << "  light noise in the star-free glow corner (" << rows_of_clean_square(d.params) << "):\n"
      << "    standard deviation  " << fixed(d.before.std_dev) << " before, "
      << fixed(d.after.std_dev) << " after correction\n"
      << "    robust (MAD) sigma  " << fixed(d.before.robust_sd) << " before, "
      << fixed(d.after.robust_sd) << " after correction\n";
}

Json input_json(const InputInfo& in) {
  return {{"file", in.path}, {"width", in.width}, {"height", in.height}};
}

// The levels and outputs of one light, as members of obj.
void add_light_json(Json& obj, const LightSummary& light) {
  const Measurement& l = light.levels;
  obj["glow"] = {{"light", json_number(l.glow_light, true)},
                 {"dark", json_number(l.glow_dark, true)},
                 {"ratio", json_number(l.glow_ratio, true)}};
  obj["hot"] = {{"light", json_number(l.hot_light, false)},
                {"dark", json_number(l.hot_dark, true)},
                {"ratio", json_number(l.hot_ratio, true)}};
  obj["darkest_block"] = {{"x", l.darkest_block.x}, {"y", l.darkest_block.y}};
  Json outputs = Json::array();
  for (const OutputInfo& o : light.outputs) {
    Json output = {{"file", o.path},
                   {"title", o.title},
                   {"preview", o.preview.empty() ? Json() : Json(o.preview)}};
    if (!o.preview_problem.empty()) output["preview_problem"] = o.preview_problem;
    outputs.push_back(output);
  }
  obj["outputs"] = outputs;
}

Json demo_json(const DemoReport& d) {
  return {{"glow_scale", json_number(d.params.glow_scale, true)},
          {"hot_scale", json_number(d.params.hot_scale, true)},
          {"noise_region",
           {{"x", {0, d.params.clean_size - 1}},
            {"y", {d.params.height - d.params.clean_size, d.params.height - 1}}}},
          {"noise_before",
           {{"std_dev", json_number(d.before.std_dev, true)},
            {"robust_sd", json_number(d.before.robust_sd, true)}}},
          {"noise_after",
           {{"std_dev", json_number(d.after.std_dev, true)},
            {"robust_sd", json_number(d.after.robust_sd, true)}}}};
}

}  // namespace

std::string number_text(double value, bool is_float) {
  if (!std::isfinite(value)) return std::isnan(value) ? "NaN" : (value > 0 ? "inf" : "-inf");
  char text[40];
  for (int digits = is_float ? 6 : 15; digits <= 17; ++digits) {
    std::snprintf(text, sizeof text, "%.*g", digits, value);
    const double back = std::strtod(text, nullptr);
    if (is_float ? static_cast<float>(back) == static_cast<float>(value) : back == value) break;
  }
  return text;
}

void print_text(std::ostream& out, const Summary& s) {
  if (!s.batch) {
    const LightSummary& light = s.lights.front();
    print_input(out, light.light);
    for (const InputInfo& in : s.inputs) print_input(out, in);
    if (s.use_bias) out << "bias factor  " << s.bias_factor << "\n";
    print_levels(out, light.levels);
    print_outputs(out, light.outputs);
    if (s.demo) print_demo(out, *s.demo, light.levels);
    return;
  }
  for (const InputInfo& in : s.inputs) print_input(out, in);
  if (s.use_bias) out << "bias factor  " << s.bias_factor << "\n";
  for (const LightSummary& light : s.lights) {
    out << "\n";
    print_input(out, light.light);
    print_levels(out, light.levels);
    print_outputs(out, light.outputs);
  }
  out << "\n"
      << s.lights.size() << " of " << s.lights.size() + s.failures.size() << " lights matched";
  if (s.failures.empty()) {
    out << "\n";
    return;
  }
  out << "; " << s.failures.size() << " failed:\n";
  for (const Failure& f : s.failures) out << "  " << f.problem << "\n";
}

void print_json(std::ostream& out, const Summary& s) {
  Json json;
  if (!s.batch) {
    const LightSummary& light = s.lights.front();
    Json inputs = Json::array();
    for (const InputInfo& in : s.inputs) {
      Json input = {{"role", in.role}};
      input.update(input_json(in));
      inputs.push_back(input);
    }
    Json light_input = {{"role", "light"}};
    light_input.update(input_json(light.light));
    inputs.insert(inputs.begin(), light_input);
    json["inputs"] = inputs;
    json["bias_factor"] = s.use_bias ? Json(s.bias_factor) : Json();
    json["subtract"] = s.subtract;
    add_light_json(json, light);
    if (s.demo) json["demo"] = demo_json(*s.demo);
  } else {
    json["dark"] = input_json(s.inputs.front());
    json["bias"] = s.use_bias ? input_json(s.inputs.back()) : Json();
    json["bias_factor"] = s.use_bias ? Json(s.bias_factor) : Json();
    json["subtract"] = s.subtract;
    json["lights"] = Json::array();
    for (const LightSummary& light : s.lights) {
      Json entry = input_json(light.light);
      add_light_json(entry, light);
      json["lights"].push_back(entry);
    }
    json["failed"] = Json::array();
    for (const Failure& f : s.failures)
      json["failed"].push_back({{"file", f.path}, {"problem", f.problem}});
  }
  out << json.dump(2, ' ', false, Json::error_handler_t::replace) << "\n";
}
