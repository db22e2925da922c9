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

// The fitted scale with its standard error, or the plug-in's ratio.
std::string scale_text(const LightSummary& light, double scale, double error) {
  std::string text = number_text(scale, true);
  if (light.method == MatchMethod::fit && std::isfinite(error)) {
    char e[40];
    std::snprintf(e, sizeof e, " +- %.2g", error);
    text += e;
  }
  return text;
}

// The light's summary line: its name, both scales and its warning codes.
void print_light_line(std::ostream& out, const std::string& name, const LightSummary& light) {
  out << name << "  glow " << scale_text(light, light.glow_scale, light.fit.glow_error) << "  hot "
      << scale_text(light, light.hot_scale, light.fit.hot_error);
  // Beside the scales, so that a scale far from the exposure ratio shows.
  if (!std::isnan(light.exposure.ratio))
    out << "  exposure " << number_text(light.exposure.ratio, true);
  if (!light.warnings.empty()) out << "  " << warning_codes(light.warnings);
  out << "\n";
}

// Each code once, with the lights it was raised on and the first one's text.
void print_warning_texts(std::ostream& out, const Summary& s) {
  std::vector<std::pair<const Diagnostic*, const LightSummary*>> first;
  std::vector<size_t> lights;
  for (const LightSummary& light : s.lights)
    for (const std::string& code : split_codes(warning_codes(light.warnings))) {
      size_t k = 0;
      while (k < first.size() && first[k].first->code != code) ++k;
      const auto w = std::find_if(light.warnings.begin(), light.warnings.end(),
                                  [&code](const Diagnostic& d) { return d.code == code; });
      if (k == first.size()) {
        first.push_back({&*w, &light});
        lights.push_back(0);
      } else if (first[k].first->message.empty()) {
        first[k] = {&*w, &light};  // read back from an earlier run's outputs: no text
      }
      ++lights[k];
    }
  if (first.empty()) return;
  out << "\n";
  for (size_t k = 0; k < first.size(); ++k) {
    out << "warning " << first[k].first->code << " on " << lights[k]
        << (lights[k] == 1 ? " light" : " lights");
    if (first[k].first->message.empty())
      out << ", by an earlier run\n";
    else
      out << "; " << relative_name(first[k].second->light.path, s.folder) << ": "
          << first[k].first->message << "\n";
  }
  out << "(--json or -v gives every light's warnings; tenvora-match --help explains them)\n";
}

// Under -v, below the light's line: the fit, the plug-in's levels and what
// the dark did under each set of scales.
void print_details(std::ostream& out, const LightSummary& light) {
  const Measurement& l = light.levels;
  const ScaleFit& f = light.fit;
  char line[400];
  if (light.method == MatchMethod::fit) {
    std::snprintf(line, sizeof line,
                  "  fit          sky %.6g ADU, %lld pixels used, %lld clipped, %lld left out, "
                  "residual noise %.4g\n",
                  f.sky_level, static_cast<long long>(f.used), static_cast<long long>(f.clipped),
                  static_cast<long long>(f.left_out), f.residual_noise);
    out << line;
  }
  out << "  glow level   light " << number_text(l.glow_light, true) << ", dark "
      << number_text(l.glow_dark, true) << ", ratio " << number_text(l.glow_ratio, true)
      << "  (darkest block at x " << l.darkest_block.x << ", row " << l.darkest_block.y << ")\n";
  out << "  hot level    light " << number_text(l.hot_light, false) << ", dark "
      << number_text(l.hot_dark, true) << ", ratio " << number_text(l.hot_ratio, true) << "\n";
  for (const Correction& c : light.corrections) {
    std::snprintf(line, sizeof line,
                  "  corrected    under the %-8s (glow %.4g, hot %.4g): noise %.4g, hot-pixel "
                  "residual %.4g\n",
                  c.by.c_str(), c.glow_scale, c.hot_scale, c.noise, c.hot_residual);
    out << line;
  }
}

void print_demo(std::ostream& out, const DemoReport& d, const std::vector<LightSummary>& lights) {
  out << "demo: each light holds the dark's glow and hot pixels at known scales\n"
      << "  light            glow known    measured   hot known    measured\n";
  char line[160];
  for (const DemoLight& known : d.lights)
    for (const LightSummary& light : lights)
      if (light.light.path == known.path) {
        std::snprintf(line, sizeof line, "  %-15s  %10s  %10s  %10s  %10s\n",
                      known.path.substr(known.path.find_last_of('/') + 1).c_str(),
                      number_text(known.glow_scale, true).c_str(),
                      number_text(light.glow_scale, true).c_str(),
                      number_text(known.hot_scale, true).c_str(),
                      number_text(light.hot_scale, true).c_str());
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
  obj["exposure"] = {{"light", json_number(light.exposure.light, false)},
                     {"dark", json_number(light.exposure.dark, false)},
                     {"ratio", json_number(light.exposure.ratio, false)}};
  obj["darkest_block"] = {{"x", l.darkest_block.x}, {"y", l.darkest_block.y}};
  obj["method"] = method_name(light.method);
  const ScaleFit& f = light.fit;
  const bool fitted = light.method == MatchMethod::fit;
  obj["scales"] = {{"glow", json_number(light.glow_scale, true)},
                   {"glow_error", fitted ? json_number(f.glow_error, false) : Json()},
                   {"hot", json_number(light.hot_scale, true)},
                   {"hot_error", fitted ? json_number(f.hot_error, false) : Json()}};
  obj["fit"] = {
      {"solved", f.solved},
      {"glow_scale", json_number(f.glow_scale, false)},
      {"glow_error", json_number(f.glow_error, false)},
      {"hot_scale", json_number(f.hot_scale, false)},
      {"hot_error", json_number(f.hot_error, false)},
      {"sky",
       {{"level", json_number(f.sky_level, false)},
        {"x", json_number(f.sky_x, false)},
        {"y", json_number(f.sky_y, false)}}},
      {"pixels",
       {{"sample", f.sample}, {"used", f.used}, {"clipped", f.clipped}, {"left_out", f.left_out}}},
      {"residual_noise", json_number(f.residual_noise, false)},
      {"rounds", f.rounds}};
  Json corrections = Json::object();
  for (const Correction& c : light.corrections)
    corrections[c.by] = {{"glow_scale", json_number(c.glow_scale, false)},
                         {"hot_scale", json_number(c.hot_scale, false)},
                         {"noise", json_number(c.noise, false)},
                         {"hot_residual", json_number(c.hot_residual, false)}};
  obj["corrected_under"] = corrections;
  Json outputs = Json::array();
  for (const OutputInfo& o : light.outputs) {
    Json output = {{"file", o.path},
                   {"title", o.title},
                   {"preview", o.preview.empty() ? Json() : Json(o.preview)}};
    if (!o.preview_problem.empty()) output["preview_problem"] = o.preview_problem;
    outputs.push_back(output);
  }
  obj["outputs"] = outputs;
  obj["earlier_run"] = light.earlier;
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

std::vector<std::string> split_codes(const std::string& codes) {
  std::vector<std::string> list;
  for (size_t start = 0; start < codes.size();) {
    const size_t comma = std::min(codes.find(',', start), codes.size());
    list.push_back(codes.substr(start, comma - start));
    start = comma + 1;
  }
  return list;
}

std::string common_folder(const std::vector<std::string>& paths) {
  if (paths.empty()) return "";
  std::string folder = paths.front().substr(0, paths.front().find_last_of('/') + 1);
  for (const std::string& path : paths)
    while (path.compare(0, folder.size(), folder) != 0)
      folder.resize(folder.find_last_of('/', folder.size() - 2) + 1);
  return folder;
}

std::string relative_name(const std::string& path, const std::string& folder) {
  return path.compare(0, folder.size(), folder) == 0 ? path.substr(folder.size()) : path;
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
  // The demo's table holds its lights' scales.
  if (s.demo) {
    print_demo(out, *s.demo, s.lights);
  } else {
    for (const LightSummary& light : s.lights) {
      print_light_line(out, relative_name(light.light.path, s.folder), light);
      if (s.verbose && !light.earlier) print_details(out, light);
    }
  }
  out << "\n"
      << s.lights.size() << " of " << s.lights.size() + s.failures.size() << " lights matched";
  const size_t earlier = std::count_if(s.lights.begin(), s.lights.end(),
                                       [](const LightSummary& light) { return light.earlier; });
  if (earlier) out << " (" << earlier << " by an earlier run)";
  if (const size_t warned = warned_lights(s)) out << ", " << warned << " with warnings";
  if (s.failures.empty()) {
    out << "\n";
  } else {
    out << "; " << s.failures.size() << " failed:\n";
    for (const Failure& f : s.failures) out << "  " << f.problem << "\n";
  }
  if (!s.verbose) print_warning_texts(out, s);
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
