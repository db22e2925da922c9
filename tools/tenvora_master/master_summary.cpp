#include "tools/tenvora_master/master_summary.h"

#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "fits/frame_list.h"

namespace {

std::string title(const MasterResult& r) {
  return r.kind == "bias" ? "Master Bias" : "Master Dark";
}

double pixels(const MasterResult& r) {
  return static_cast<double>(r.width) * r.height;
}

// NaN and infinities are not JSON numbers.
nlohmann::json number(double value) {
  return std::isfinite(value) ? nlohmann::json(value) : nlohmann::json(nullptr);
}

}  // namespace

void print_master_text(std::ostream& out, const MasterResult& r) {
  char line[512];
  out << title(r) << " of " << r.frames.size() << " frames (" << r.width << " x " << r.height
      << "): " << r.out << "\n";
  out << "method " << method_name(r.rule.method);
  if (r.rule.method == CombineMethod::sigma_clip) {
    std::snprintf(line, sizeof line, ", kappa %g: %.4f %% of the values clipped", r.rule.kappa,
                  100.0 * r.clipped_share);
    out << line;
  }
  if (!r.bias.empty()) out << "; bias " << r.bias << " subtracted first";
  out << "\n";
  std::snprintf(line, sizeof line, "%-32s %12s %10s %12s\n", "frame", "median", "noise", "clipped");
  out << line;
  for (size_t f = 0; f < r.frames.size(); ++f) {
    const FrameStats& s = r.stats[f];
    std::snprintf(line, sizeof line, "%-32s %12.2f %10.3f %12lld (%.4f %%)\n",
                  base_name(r.frames[f]).c_str(), s.median, s.noise, s.clipped,
                  100.0 * static_cast<double>(s.clipped) / pixels(r));
    out << line;
  }
  if (r.warnings.empty()) return;
  out << "warnings:\n";
  for (const MasterWarning& w : r.warnings)
    out << "  " << w.frame << ": " << w.code << ": " << w.message << "\n";
}

void print_master_json(std::ostream& out, const MasterResult& r) {
  nlohmann::json frames = nlohmann::json::array(), warnings = nlohmann::json::array();
  for (size_t f = 0; f < r.frames.size(); ++f) {
    const FrameStats& s = r.stats[f];
    frames.push_back({{"path", r.frames[f]},
                      {"median", number(s.median)},
                      {"noise", number(s.noise)},
                      {"clipped", s.clipped},
                      {"clipped_share", static_cast<double>(s.clipped) / pixels(r)}});
  }
  for (const MasterWarning& w : r.warnings)
    warnings.push_back({{"frame", w.frame}, {"code", w.code}, {"message", w.message}});
  nlohmann::json summary = {
      {"out", r.out},
      {"imagetyp", title(r)},
      {"width", r.width},
      {"height", r.height},
      {"method", method_name(r.rule.method)},
      {"bias", r.bias.empty() ? nlohmann::json(nullptr) : nlohmann::json(r.bias)},
      {"jobs", r.jobs},
      {"frames", frames},
      {"warnings", warnings}};
  if (r.rule.method == CombineMethod::sigma_clip) {
    summary["kappa"] = r.rule.kappa;
    summary["clipped_share"] = r.clipped_share;
  }
  out << summary.dump(2) << "\n";
}

void print_master_warnings(std::ostream& err, const MasterResult& r) {
  for (const MasterWarning& w : r.warnings)
    err << "tenvora-master: " << w.frame << ": warning " << w.code << ": " << w.message << "\n";
}
