#include "tools/tenvora_match/summary.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>

namespace {

using Json = nlohmann::ordered_json;

// The shortest text's value, so that a float prints as it reads.
Json json_number(double value, bool is_float) {
  if (!std::isfinite(value)) return nullptr;
  return std::strtod(number_text(value, is_float).c_str(), nullptr);
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

void print_light_warnings(std::ostream& out, const std::vector<Diagnostic>& warnings) {
  for (const Diagnostic& w : warnings) out << "warning " << w.code << ": " << w.message << "\n";
}

void print_demo(std::ostream& out, const DemoReport& d, const std::vector<LightSummary>& lights) {
  out << "\ndemo: each light holds the dark's glow and hot pixels at known scales\n"
      << "  light            glow known  measured   hot known  measured\n";
  char line[160];
  for (const DemoLight& known : d.lights)
    for (const LightSummary& light : lights)
      if (light.light.path == known.path) {
        const Measurement& l = light.levels;
        std::snprintf(
            line, sizeof line, "  %-15s  %10s  %8s  %10s  %8s\n",
            known.path.substr(known.path.find_last_of('/') + 1).c_str(),
            number_text(known.glow_scale, true).c_str(), number_text(l.glow_ratio, true).c_str(),
            number_text(known.hot_scale, true).c_str(), number_text(l.hot_ratio, true).c_str());
        out << line;
      }
  out << "report " << d.report << "\nplot   " << d.plot << "\n";
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
  obj["warnings"] = Json::array();
  for (const Diagnostic& w : light.warnings) {
    Json numbers = Json::object();
    for (const auto& number : w.numbers) numbers[number.first] = json_number(number.second, false);
    obj["warnings"].push_back({{"code", w.code}, {"message", w.message}, {"numbers", numbers}});
  }
}

Json demo_json(const DemoReport& d) {
  Json lights = Json::array();
  for (const DemoLight& l : d.lights)
    lights.push_back({{"file", l.path},
                      {"glow_scale", json_number(l.glow_scale, true)},
                      {"hot_scale", json_number(l.hot_scale, true)}});
  return {{"lights", lights}, {"report", d.report}, {"plot", d.plot}};
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

std::string warning_codes(const std::vector<Diagnostic>& warnings) {
  std::string codes;
  for (const Diagnostic& w : warnings)
    if (("," + codes + ",").find("," + w.code + ",") == std::string::npos)
      codes += (codes.empty() ? "" : ",") + w.code;
  return codes;
}

size_t warned_lights(const Summary& s) {
  return std::count_if(s.lights.begin(), s.lights.end(),
                       [](const LightSummary& light) { return !light.warnings.empty(); });
}

void print_text(std::ostream& out, const Summary& s) {
  if (!s.batch) {
    const LightSummary& light = s.lights.front();
    print_input(out, light.light);
    for (const InputInfo& in : s.inputs) print_input(out, in);
    if (s.use_bias) out << "bias factor  " << s.bias_factor << "\n";
    print_levels(out, light.levels);
    print_light_warnings(out, light.warnings);
    print_outputs(out, light.outputs);
    return;
  }
  for (const InputInfo& in : s.inputs) print_input(out, in);
  if (s.use_bias) out << "bias factor  " << s.bias_factor << "\n";
  for (const LightSummary& light : s.lights) {
    out << "\n";
    print_input(out, light.light);
    print_levels(out, light.levels);
    print_light_warnings(out, light.warnings);
    print_outputs(out, light.outputs);
  }
  if (s.demo) print_demo(out, *s.demo, s.lights);
  out << "\n"
      << s.lights.size() << " of " << s.lights.size() + s.failures.size() << " lights matched";
  if (const size_t warned = warned_lights(s)) out << ", " << warned << " with warnings";
  if (s.failures.empty()) {
    out << "\n";
    return;
  }
  out << "; " << s.failures.size() << " failed:\n";
  for (const Failure& f : s.failures) out << "  " << f.problem << "\n";
}

void print_warnings(std::ostream& err, const LightSummary& light) {
  for (const Diagnostic& w : light.warnings)
    err << "tenvora-match: " << light.light.path << ": warning " << w.code << ": " << w.message
        << "\n";
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
    if (s.demo) json["demo"] = demo_json(*s.demo);
    json["failed"] = Json::array();
    for (const Failure& f : s.failures)
      json["failed"].push_back({{"file", f.path}, {"problem", f.problem}});
  }
  out << json.dump(2, ' ', false, Json::error_handler_t::replace) << "\n";
}
