// The Python module `tenvora`: the pipeline's stages on 2-D numpy arrays,
// composed as tenvora-match composes them (the dark split once, each light
// matched against the parts), so the outputs are the tool's bit for bit. The
// output planes come from the plane pool, and a freed one goes back to it.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <limits>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "combining/combine_strips.h"
#include "diagnostics/diagnostics.h"
#include "fits/fits_io.h"
#include "fits/output_keywords.h"
#include "fits/tool_error.h"
#include "matching/fit_scales.h"
#include "matching/stages.h"
#include "python/plane_pool.h"

namespace py = pybind11;

namespace {

using Plane = py::array_t<float, py::array::c_style | py::array::forcecast>;

std::string shape_text(FrameGeometry frame) {
  return "(" + std::to_string(frame.height) + ", " + std::to_string(frame.width) + ")";
}

// A numpy array of real numbers as native-endian C-contiguous float32: the
// array itself when it is one already, else one converted copy.
Plane plane_of(const py::handle& value, const char* name) {
  if (!py::isinstance<py::array>(value))
    throw py::type_error(std::string(name) + " must be a numpy array, not " +
                         std::string(py::str(value.get_type().attr("__name__"))));
  const py::array array = py::reinterpret_borrow<py::array>(value);
  const char kind = array.dtype().kind();
  if (kind != 'f' && kind != 'i' && kind != 'u')
    throw py::type_error(std::string(name) + " must hold real numbers, not " +
                         std::string(py::str(array.dtype())));
  if (array.ndim() != 2)
    throw py::value_error(std::string(name) + " must be 2-D, not " + std::to_string(array.ndim()) +
                          "-D");
  if (array.size() == 0) throw py::value_error(std::string(name) + " is empty");
  if (array.shape(0) > std::numeric_limits<int32_t>::max() ||
      array.shape(1) > std::numeric_limits<int32_t>::max())
    throw py::value_error(std::string(name) + " is too large");
  Plane plane = Plane::ensure(array);
  if (!plane) throw py::error_already_set();
  return plane;
}

// The largest value an integer array can hold, as a file's BITPIX bounds
// it; NaN for floating-point arrays, whose saturation the checks look for
// in the frame itself.
double largest_of(const py::handle& value) {
  const py::dtype type = py::reinterpret_borrow<py::array>(value).dtype();
  const int bits = 8 * static_cast<int>(type.itemsize());
  if (type.kind() == 'u') return std::ldexp(1.0, bits) - 1;
  if (type.kind() == 'i') return std::ldexp(1.0, bits - 1) - 1;
  return std::numeric_limits<double>::quiet_NaN();
}

FrameGeometry frame_of(const Plane& plane) {
  return {int32_t(plane.shape(1)), int32_t(plane.shape(0))};
}

void check_shape(FrameGeometry frame, const Plane& plane, const char* name) {
  const FrameGeometry other = frame_of(plane);
  if (other.width != frame.width || other.height != frame.height)
    throw py::value_error(std::string(name) + " has shape " + shape_text(other) + ", the light " +
                          shape_text(frame) + ": the shapes differ");
}

constexpr const char* kBlockName = "tenvora plane";

// The last reference to a plane's array, or to a view of it, went away.
void return_block(PyObject* owner) {
  give_back(PyCapsule_GetPointer(owner, kBlockName),
            reinterpret_cast<size_t>(PyCapsule_GetContext(owner)));
}

// A plane of the frame in a block of the pool; the array's base, a capsule
// that holds the block and its size, gives the block back when it is freed.
Plane new_plane(FrameGeometry frame) {
  const size_t bytes = size_t(frame.width) * size_t(frame.height) * sizeof(float);
  void* block = take_block(bytes);
  PyObject* owner = PyCapsule_New(block, kBlockName, return_block);
  if (!owner) {
    give_back(block, bytes);
    throw py::error_already_set();
  }
  PyCapsule_SetContext(owner, reinterpret_cast<void*>(bytes));
  return Plane({frame.height, frame.width}, static_cast<float*>(block),
               py::reinterpret_steal<py::capsule>(owner));
}

// A plane a call needs only while it runs (the parts of a dark split for it
// alone, a dark put together again for the checks), kept by each thread for
// its next call of the size as the pool keeps the outputs.
float* scratch_plane(int slot, size_t count) {
  thread_local std::vector<float> planes[2];
  std::vector<float>& plane = planes[slot];
  if (plane.size() != count) {
    std::vector<float>().swap(plane);
    plane.resize(count);
  }
  return plane.data();
}

void check_factor(long long bias_factor) {
  if (bias_factor < 0 || bias_factor > 999)
    throw py::value_error("bias_factor must be from 0 to 999, not " + std::to_string(bias_factor));
}

// The bias as a plane of the frame's size, or none.
std::optional<Plane> bias_of(const py::object& bias, FrameGeometry frame) {
  if (bias.is_none()) return std::nullopt;
  Plane plane = plane_of(bias, "bias");
  check_shape(frame, plane, "bias");
  return plane;
}

const float* data_or_null(const std::optional<Plane>& plane) {
  return plane ? plane->data() : nullptr;
}

std::pair<Plane, Plane> split(FrameGeometry frame, const Plane& dark,
                              const std::optional<Plane>& bias) {
  Plane glow = new_plane(frame), hot = new_plane(frame);
  float* glow_out = glow.mutable_data();
  float* hot_out = hot.mutable_data();
  {
    py::gil_scoped_release unlocked;
    split_dark(frame, dark.data(), data_or_null(bias), glow_out, hot_out);
  }
  return {glow, hot};
}

py::tuple split_dark_py(const py::object& dark, const py::object& bias, long long bias_factor) {
  check_factor(bias_factor);
  const Plane dark_plane = plane_of(dark, "dark");
  const FrameGeometry frame = frame_of(dark_plane);
  const auto [glow, hot] = split(frame, dark_plane, bias_of(bias, frame));
  return py::make_tuple(glow, hot);
}

// Floats go to Python as the exact values of the float32s.
py::dict levels_of(const Measurement& m) {
  py::list hot_pixels, found, light_at, hot_at;
  for (int k = 0; k < 9; ++k) {
    hot_pixels.append(py::make_tuple(m.hot_pixels.x[k], m.hot_pixels.y[k]));
    found.append(m.hot_pixel_found[k]);
    light_at.append(double(m.light_at_hot_pixels[k]));
    hot_at.append(double(m.hot_at_hot_pixels[k]));
  }
  py::dict levels;
  levels["glow_light"] = double(m.glow_light);
  levels["glow_dark"] = double(m.glow_dark);
  levels["glow_ratio"] = double(m.glow_ratio);
  levels["hot_light"] = m.hot_light;
  levels["hot_dark"] = double(m.hot_dark);
  levels["hot_ratio"] = double(m.hot_ratio);
  levels["darkest_block"] = py::make_tuple(m.darkest_block.x, m.darkest_block.y);
  levels["hot_pixels"] = hot_pixels;
  levels["hot_pixel_found"] = found;
  levels["light_at_hot_pixels"] = light_at;
  levels["hot_at_hot_pixels"] = hot_at;
  return levels;
}

struct MatchResult {
  py::object glow, hot, matched, corrected;
  py::dict levels;
  py::list warnings;
};

// NaN (not determined) as None.
py::object number(double value) {
  return std::isnan(value) ? py::object(py::none()) : py::object(py::float_(value));
}

// As tenvora-match reports them: code, message and the numbers they were
// decided on (NaN as None, as in its JSON).
py::list warnings_of(const std::vector<Diagnostic>& warnings) {
  py::list list;
  for (const Diagnostic& w : warnings) {
    py::dict numbers;
    for (const auto& [name, value] : w.numbers) numbers[py::str(name)] = number(value);
    py::dict warning;
    warning["code"] = w.code;
    warning["message"] = w.message;
    warning["numbers"] = numbers;
    list.append(warning);
  }
  return list;
}

py::dict fit_of(const ScaleFit& f) {
  py::dict fit;
  fit["solved"] = f.solved;
  fit["glow_scale"] = number(f.glow_scale), fit["glow_error"] = number(f.glow_error);
  fit["hot_scale"] = number(f.hot_scale), fit["hot_error"] = number(f.hot_error);
  fit["sky_level"] = number(f.sky_level), fit["sky_x"] = number(f.sky_x);
  fit["sky_y"] = number(f.sky_y);
  fit["sample"] = f.sample, fit["used"] = f.used, fit["clipped"] = f.clipped;
  fit["left_out"] = f.left_out, fit["residual_noise"] = number(f.residual_noise);
  fit["rounds"] = f.rounds;
  return fit;
}

MatchResult match_py(const py::object& light, const py::object& dark, const py::object& bias,
                     long long bias_factor, bool subtract, const py::object& dark_parts,
                     const std::string& method, std::optional<double> exposure_ratio) {
  check_factor(bias_factor);
  if (method != "fit" && method != "plugin")
    throw py::value_error("method must be 'fit' or 'plugin', not '" + method + "'");
  const bool fitted = method == "fit";
  const Plane light_plane = plane_of(light, "light");
  const FrameGeometry frame = frame_of(light_plane);
  const std::optional<Plane> bias_plane = bias_of(bias, frame);

  const size_t count = size_t(frame.width) * size_t(frame.height);
  std::optional<Plane> dark_plane;  // as given, for the fit and the checks
  if (!dark.is_none()) dark_plane = plane_of(dark, "dark");
  Plane given_glow, given_hot;
  float *split_glow = nullptr, *split_hot = nullptr;  // a dark split for this call alone
  const float *glow, *hot;
  if (dark_parts.is_none()) {
    if (dark.is_none()) throw py::type_error("match needs a dark or dark_parts");
    check_shape(frame, *dark_plane, "dark");
    glow = split_glow = scratch_plane(0, count);
    hot = split_hot = scratch_plane(1, count);
  } else {
    if (!py::isinstance<py::tuple>(dark_parts) || py::len(dark_parts) != 2)
      throw py::type_error("dark_parts must be the (glow, hot) pair split_dark returns");
    if (dark_plane) check_shape(frame, *dark_plane, "dark");
    const py::tuple given = dark_parts;
    given_glow = plane_of(given[0], "dark_parts glow");
    given_hot = plane_of(given[1], "dark_parts hot");
    check_shape(frame, given_glow, "dark_parts glow");
    check_shape(frame, given_hot, "dark_parts hot");
    glow = given_glow.data();
    hot = given_hot.data();
  }
  Plane scaled_glow = new_plane(frame), scaled_hot = new_plane(frame);
  // Without the dark, the fit and the checks read it put together again
  // from its parts (the bias less only where the dark's saturation would
  // count, which is then unknown).
  float* joined = dark_plane ? nullptr : scratch_plane(0, count);
  const double light_maximum = largest_of(light);
  const double dark_maximum = dark.is_none() ? NAN : largest_of(dark);
  const double light_saturation = saturation_level(light_plane.data(), count, light_maximum);
  const double dark_saturation =
      dark_plane ? saturation_level(dark_plane->data(), count, dark_maximum) : NAN;

  // As the tool: without a bias the factor means nothing.
  const float* bias_data = data_or_null(bias_plane);
  const int32_t factor = bias_data ? int32_t(bias_factor) : 0;
  MatchResult result;
  Plane matched = new_plane(frame);
  std::optional<Plane> corrected;
  if (subtract) corrected = new_plane(frame);
  float* matched_out = matched.mutable_data();
  float* scaled_glow_out = scaled_glow.mutable_data();
  float* scaled_hot_out = scaled_hot.mutable_data();
  float* corrected_out = corrected ? corrected->mutable_data() : nullptr;
  Measurement levels;
  ScaleFit fit;
  float glow_scale, hot_scale;
  std::vector<Diagnostic> diagnostics;
  {
    py::gil_scoped_release unlocked;
    if (split_glow) split_dark(frame, dark_plane->data(), bias_data, split_glow, split_hot);
    for (size_t i = 0; joined && i < count; ++i)
      joined[i] = glow[i] + hot[i] + (bias_data ? bias_data[i] : 0.0f);
    const float* dark_pixels = dark_plane ? dark_plane->data() : joined;
    // The matched plane holds the light less the bias until the scaling.
    const float* measured =
        light_to_measure(frame, light_plane.data(), bias_data, factor, matched_out);
    levels = measure(frame, measured, glow, hot);
    glow_scale = levels.glow_ratio, hot_scale = levels.hot_ratio;
    if (fitted) {
      const FitSample sample = fit_sample(frame, dark_pixels, glow, hot, dark_saturation);
      fit = fit_scales(
          sample, sample_light(light_plane.data(), bias_data, factor, sample, light_saturation));
      if (fit.solved) glow_scale = float(fit.glow_scale), hot_scale = float(fit.hot_scale);
    }
    scale_and_sum(frame, glow, glow_scale, hot, hot_scale, bias_data, factor, matched_out,
                  scaled_glow_out, scaled_hot_out);
    if (corrected_out) correct_light(frame, light_plane.data(), matched_out, corrected_out);
    DiagnosticInput in;
    in.width = frame.width, in.height = frame.height;
    in.use_bias = bias_data != nullptr;
    in.light = light_plane.data(), in.bias = bias_data, in.bias_factor = factor;
    in.dark = dark_pixels, in.glow = glow;
    in.matched = matched_out, in.corrected = corrected_out;
    take_measurement(in, levels);
    if (fitted) take_fit(in, fit, glow_scale, hot_scale);
    in.light_maximum = light_maximum, in.dark_maximum = dark_maximum;
    in.dark_saturation = dark_saturation;
    in.exposure_ratio = exposure_ratio.value_or(NAN);
    diagnostics = diagnose_match(in);
  }
  result.glow = scaled_glow;
  result.hot = scaled_hot;
  result.matched = matched;
  result.corrected = corrected ? py::object(*corrected) : py::none();
  result.levels = levels_of(levels);
  result.levels["method"] = method;
  result.levels["glow_scale"] = double(glow_scale);
  result.levels["hot_scale"] = double(hot_scale);
  result.levels["fit"] = fitted ? py::object(fit_of(fit)) : py::none();
  result.warnings = warnings_of(diagnostics);
  return result;
}

// Frames given by name are read a strip at a time, as tenvora-master reads
// them; arrays are read where they lie.
struct CombineInputs {
  std::vector<FitsStrips> files;
  std::vector<Plane> planes;
  FrameGeometry frame{};
  std::vector<RowReader> readers;
};

bool is_path(const py::handle& value) {
  return py::isinstance<py::str>(value) || py::hasattr(value, "__fspath__");
}

void check_combined_shape(CombineInputs& in, FrameGeometry frame, const std::string& name) {
  if (in.readers.empty()) {
    in.frame = frame;
  } else if (frame.width != in.frame.width || frame.height != in.frame.height) {
    throw py::value_error(name + " has shape " + shape_text(frame) + ", frames[0] " +
                          shape_text(in.frame) + ": the shapes differ");
  }
}

CombineInputs combine_inputs(const py::sequence& frames) {
  CombineInputs in;
  const size_t count = py::len(frames);
  if (count == 0) throw py::value_error("frames is empty");
  in.files.reserve(count);
  in.planes.reserve(count);
  const py::object fspath = py::module_::import("os").attr("fspath");
  for (size_t k = 0; k < count; ++k) {
    const py::object value = frames[k];
    const std::string name = "frames[" + std::to_string(k) + "]";
    if (is_path(value)) {
      const std::string path = py::str(fspath(value));
      try {
        in.files.emplace_back(path);
      } catch (const ToolError& e) {
        throw py::value_error(e.what());
      }
      const FitsStrips& file = in.files.back();
      check_combined_shape(in, {file.width(), file.height()}, name);
      FitsStrips* source = &in.files.back();
      in.readers.push_back(
          [source](int32_t first, int32_t rows, float* to) { source->read_rows(first, rows, to); });
    } else {
      in.planes.push_back(plane_of(value, name.c_str()));
      const Plane& plane = in.planes.back();
      check_combined_shape(in, frame_of(plane), name);
      const float* data = plane.data();
      const int32_t width = in.frame.width;
      in.readers.push_back([data, width](int32_t first, int32_t rows, float* to) {
        std::memcpy(to, data + size_t(first) * width, size_t(rows) * width * sizeof(float));
      });
    }
  }
  return in;
}

Plane combine_py(const py::sequence& frames, const std::string& method, double kappa,
                 const py::object& jobs) {
  CombineRule rule;
  if (!method_of(method, &rule.method))
    throw py::value_error("method must be one of sigma-clip, median, mean, not '" + method + "'");
  if (!(kappa >= 1.0 && kappa <= 100.0))
    throw py::value_error("kappa must be from 1 to 100, not " +
                          std::string(py::repr(py::float_(kappa))));
  rule.kappa = kappa;
  StripPlan plan;
  plan.jobs = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  if (!jobs.is_none()) {
    plan.jobs = jobs.cast<int>();
    if (plan.jobs < 1 || plan.jobs > 256) throw py::value_error("jobs must be from 1 to 256");
  }
  CombineInputs in = combine_inputs(frames);
  plan.width = in.frame.width;
  plan.height = in.frame.height;
  Plane master = new_plane(in.frame);
  float* out = master.mutable_data();
  try {
    py::gil_scoped_release unlocked;
    combine_strips(plan, in.readers, {}, rule, out);
  } catch (const ToolError& e) {
    throw py::value_error(e.what());
  }
  return master;
}

}  // namespace

PYBIND11_MODULE(_tenvora, m) {
  m.doc() =
      "Matched-dark calibration: a dark frame split into glow and hot pixels, each scaled "
      "to the level measured in the light.";
  // The tool's version, for the headers the package writes as the tool does.
  m.attr("__version__") = TENVORA_VERSION;

  py::class_<MatchResult>(m, "MatchResult")
      .def_readonly("glow", &MatchResult::glow, "the dark's glow, scaled to the light")
      .def_readonly("hot", &MatchResult::hot, "the dark's hot pixels, scaled to the light")
      .def_readonly("matched", &MatchResult::matched, "the matched dark (with the bias)")
      .def_readonly("corrected", &MatchResult::corrected, "light - matched, or None")
      .def_readonly("levels", &MatchResult::levels, "the levels the ratios were measured from")
      .def_readonly("warnings", &MatchResult::warnings,
                    "the checks' warnings, as tenvora-match's: dicts of code, message and the "
                    "numbers they were decided on; empty when the scales can be trusted")
      .def("__repr__", [](const MatchResult& r) {
        std::string codes;
        for (const py::handle w : r.warnings) {
          const std::string code = py::str(w["code"]);
          if (("," + codes + ",").find("," + code + ",") == std::string::npos)
            codes += (codes.empty() ? "" : ",") + code;
        }
        return "<tenvora.MatchResult method=" + std::string(py::str(r.levels["method"])) +
               " glow_scale=" + std::string(py::repr(r.levels["glow_scale"])) +
               " hot_scale=" + std::string(py::repr(r.levels["hot_scale"])) +
               (codes.empty() ? "" : " warnings=" + codes) + ">";
      });

  m.def("match", &match_py, py::arg("light"), py::arg("dark"), py::arg("bias") = py::none(),
        py::arg("bias_factor") = 1, py::arg("subtract") = false, py::arg("dark_parts") = py::none(),
        py::arg("method") = "fit", py::kw_only(), py::arg("exposure_ratio") = py::none(),
        "Matches the dark (less the bias) to the light: method 'fit' (the default) fits both "
        "scales over the whole frame, 'plugin' takes the plug-in's levels and gives its images "
        "bit for bit; levels holds the plug-in's levels either way, the scales applied and the "
        "fit. With dark_parts, the (glow, hot) pair "
        "split_dark gave for this dark and bias, the dark is not split again (it may be None). "
        "The result's warnings are the checks tenvora-match makes after a match; given the "
        "exposure ratio (exposure_ratio()), scales far from it are warned of too. The memory of "
        "freed outputs is kept for the next call (see the package's help).");
  // The keywords the tool's outputs write: (name, comment, meaning, earlier name).
  py::list output_keywords;
  for (const OutputKeyword* k : kOutputKeywords)
    output_keywords.append(py::make_tuple(k->name, k->comment, k->meaning, k->was));
  m.attr("OUTPUT_KEYWORDS") = py::tuple(output_keywords);
  py::tuple keywords(std::size(kExposureKeywords));
  for (size_t k = 0; k < std::size(kExposureKeywords); ++k) keywords[k] = kExposureKeywords[k];
  m.attr("EXPOSURE_KEYWORDS") = keywords;
  m.def(
      "exposure_ratio",
      [](std::optional<double> light, std::optional<double> dark) -> std::optional<double> {
        const double ratio = exposure_ratio(light.value_or(NAN), dark.value_or(NAN));
        return std::isnan(ratio) ? std::nullopt : std::optional<double>(ratio);
      },
      py::arg("light_seconds"), py::arg("dark_seconds"),
      "The light's exposure time over the dark's, as tenvora-match shows it beside the scales; "
      "None when either is None, not finite or negative, or the dark's is 0. The times come "
      "from the first of EXPOSURE_KEYWORDS a header holds.");
  m.def("split_dark", &split_dark_py, py::arg("dark"), py::arg("bias") = py::none(),
        py::arg("bias_factor") = 1,
        "The dark, less the bias, split into its (glow, hot) planes, for match(dark_parts=...).");
  m.def("combine", &combine_py, py::arg("frames"), py::arg("method") = "sigma-clip",
        py::arg("kappa") = 3.0, py::arg("jobs") = py::none(),
        "The frames (2-D arrays of one shape, or names of FITS files, read a strip at a time) "
        "combined per pixel as tenvora-master combines them: 'sigma-clip' (the mean after "
        "iterative clipping at kappa robust sigmas), 'median' or 'mean'; values that are not "
        "finite are left out. On jobs threads (one per core), the result the same for any.");
}
