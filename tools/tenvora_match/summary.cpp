#include "tools/tenvora_match/summary.h"

#include <cmath>
#include <cstdio>

namespace {

// Shortest text that reads back as the same float or double.
std::string number(double value, bool is_float) {
  if (!std::isfinite(value)) return std::isnan(value) ? "NaN" : (value > 0 ? "inf" : "-inf");
  char text[40];
  for (int digits = is_float ? 6 : 15; digits <= 17; ++digits) {
    std::snprintf(text, sizeof text, "%.*g", digits, value);
    const double back = std::strtod(text, nullptr);
    if (is_float ? static_cast<float>(back) == static_cast<float>(value) : back == value) break;
  }
  return text;
}

std::string fixed(double value) {
  char text[40];
  std::snprintf(text, sizeof text, "%.2f", value);
  return text;
}

std::string json_number(double value, bool is_float) {
  return std::isfinite(value) ? number(value, is_float) : "null";
}

std::string json_text(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      out += escape;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string rows_of_clean_square(const DemoParams& p) {
  const int first = p.height - p.clean_size, last = p.height - 1;
  return "columns 0-" + std::to_string(p.clean_size - 1) + ", rows " + std::to_string(first) + "-" +
         std::to_string(last) + " = FITS rows " + std::to_string(first + 1) + "-" +
         std::to_string(last + 1);
}

}  // namespace

void print_text(std::ostream& out, const Summary& s) {
  for (const InputInfo& in : s.inputs)
    out << in.role << (in.role.size() < 5 ? std::string(5 - in.role.size(), ' ') : "") << "  "
        << in.path << "  (" << in.width << " x " << in.height << ")\n";
  if (s.use_bias) out << "bias factor  " << s.bias_factor << "\n";
  const Measurement& l = s.levels;
  out << "glow level   light " << number(l.glow_light, true) << ", dark "
      << number(l.glow_dark, true) << ", ratio " << number(l.glow_ratio, true)
      << "  (darkest block at x " << l.darkest_block.x << ", row " << l.darkest_block.y << ")\n";
  out << "hot level    light " << number(l.hot_light, false) << ", dark "
      << number(l.hot_dark, true) << ", ratio " << number(l.hot_ratio, true) << "\n";
  for (const OutputInfo& o : s.outputs)
    out << "wrote " << o.path << "  \"" << o.title << "\""
        << (o.preview.empty() ? "" : "  and " + o.preview)
        << (o.preview_problem.empty() ? "" : "  (no preview: " + o.preview_problem + ")") << "\n";
  if (!s.demo) return;
  const DemoReport& d = *s.demo;
  out << "\ndemo: the light holds the dark's glow at scale " << number(d.params.glow_scale, true)
      << " and its hot pixels at scale " << number(d.params.hot_scale, true) << "\n"
      << "  glow  known " << number(d.params.glow_scale, true) << "  measured "
      << number(l.glow_ratio, true) << "\n"
      << "  hot   known " << number(d.params.hot_scale, true) << "  measured "
      << number(l.hot_ratio, true) << "\n"
      << "  light noise in the star-free glow corner (" << rows_of_clean_square(d.params) << "):\n"
      << "    standard deviation  " << fixed(d.before.std_dev) << " before, "
      << fixed(d.after.std_dev) << " after correction\n"
      << "    robust (MAD) sigma  " << fixed(d.before.robust_sd) << " before, "
      << fixed(d.after.robust_sd) << " after correction\n";
}

void print_json(std::ostream& out, const Summary& s) {
  out << "{\n  \"inputs\": [";
  for (size_t k = 0; k < s.inputs.size(); ++k) {
    const InputInfo& in = s.inputs[k];
    out << (k ? ", " : "") << "{\"role\": " << json_text(in.role)
        << ", \"file\": " << json_text(in.path) << ", \"width\": " << in.width
        << ", \"height\": " << in.height << "}";
  }
  const Measurement& l = s.levels;
  out << "],\n  \"bias_factor\": ";
  if (s.use_bias)
    out << s.bias_factor;
  else
    out << "null";
  out << ",\n  \"subtract\": " << (s.subtract ? "true" : "false") << ",\n"
      << "  \"glow\": {\"light\": " << json_number(l.glow_light, true)
      << ", \"dark\": " << json_number(l.glow_dark, true)
      << ", \"ratio\": " << json_number(l.glow_ratio, true) << "},\n"
      << "  \"hot\": {\"light\": " << json_number(l.hot_light, false)
      << ", \"dark\": " << json_number(l.hot_dark, true)
      << ", \"ratio\": " << json_number(l.hot_ratio, true) << "},\n"
      << "  \"darkest_block\": {\"x\": " << l.darkest_block.x << ", \"y\": " << l.darkest_block.y
      << "},\n"
      << "  \"outputs\": [";
  for (size_t k = 0; k < s.outputs.size(); ++k) {
    const OutputInfo& o = s.outputs[k];
    out << (k ? ",\n    " : "\n    ") << "{\"file\": " << json_text(o.path)
        << ", \"title\": " << json_text(o.title)
        << ", \"preview\": " << (o.preview.empty() ? "null" : json_text(o.preview));
    if (!o.preview_problem.empty())
      out << ", \"preview_problem\": " << json_text(o.preview_problem);
    out << "}";
  }
  out << "\n  ]";
  if (s.demo) {
    const DemoReport& d = *s.demo;
    out << ",\n  \"demo\": {\"glow_scale\": " << json_number(d.params.glow_scale, true)
        << ", \"hot_scale\": " << json_number(d.params.hot_scale, true)
        << ",\n    \"noise_region\": {\"x\": [0, " << d.params.clean_size - 1 << "], \"y\": ["
        << d.params.height - d.params.clean_size << ", " << d.params.height - 1 << "]}"
        << ",\n    \"noise_before\": {\"std_dev\": " << json_number(d.before.std_dev, true)
        << ", \"robust_sd\": " << json_number(d.before.robust_sd, true) << "}"
        << ",\n    \"noise_after\": {\"std_dev\": " << json_number(d.after.std_dev, true)
        << ", \"robust_sd\": " << json_number(d.after.robust_sd, true) << "}}";
  }
  out << "\n}\n";
}
