#include "tools/tenvora_match/session_plot.h"

#include <cairo.h>
#include <stdio.h>
#include <time.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <memory>
#include <numeric>

#include "fits/tool_error.h"

namespace {

// Margins of the plot area, in pixels.
constexpr double kLeft = 100, kRight = 40, kTop = 90, kBottom = 80;

struct Axis {
  double lo, hi;  // the range shown
  double step;    // between ticks
  std::string (*label)(double value, double step);
};

enum class Marker { circle, square, none };

struct Series {
  const char* name;
  double red, green, blue;
  double (*ratio)(const SessionRow&);  // the scale the outputs were made with
  double (*error)(const SessionRow&);  // its standard error, NaN for none
  Marker marker;                       // so the series differ without colour too
  bool measured;                       // else drawn dashed, and not counted when not finite
};

double no_error(const SessionRow&) {
  return NAN;
}

// The exposure ratio is what the scales would be if dark current alone made
// the dark; often unknown.
constexpr Series kSeries[] = {
    {"glow scale", 0.85, 0.37, 0.0, [](const SessionRow& r) { return double(r.glow_scale); },
     [](const SessionRow& r) { return r.glow_error; }, Marker::circle, true},
    {"hot-pixel scale", 0.0, 0.45, 0.70, [](const SessionRow& r) { return double(r.hot_scale); },
     [](const SessionRow& r) { return r.hot_error; }, Marker::square, true},
    {"exposure ratio", 0.35, 0.35, 0.35, [](const SessionRow& r) { return r.exposure_ratio; },
     no_error, Marker::none, false}};

// The error of a row's scale when it can be drawn, else 0.
double error_of(const SessionRow& row, const Series& s) {
  const double error = s.error(row);
  return std::isfinite(error) && error > 0 ? error : 0.0;
}

// 1, 2 or 5 times a power of ten, near raw.
double nice_number(double raw) {
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  const double fraction = raw / power;
  return (fraction < 1.5 ? 1 : fraction < 3.5 ? 2 : fraction < 7.5 ? 5 : 10) * power;
}

// Enough digits to tell ticks step apart.
std::string number_label(double value, double step) {
  const double magnitude = std::max(std::fabs(value), step);
  const int digits =
      static_cast<int>(std::floor(std::log10(magnitude)) - std::floor(std::log10(step))) + 1;
  char text[40];
  std::snprintf(text, sizeof text, "%.*g", std::clamp(digits, 1, 15), value);
  return text;
}

std::string utc_text(double seconds, const char* format) {
  const time_t whole = static_cast<time_t>(std::floor(seconds));
  tm parts{};
  gmtime_r(&whole, &parts);
  char text[40];
  strftime(text, sizeof text, format, &parts);
  return text;
}

std::string time_label(double seconds, double step) {
  return utc_text(seconds, step >= 86400 ? "%Y-%m-%d" : step >= 60 ? "%H:%M" : "%H:%M:%S");
}

// Ratios: padded so that one value, or equal ones, still get a range.
Axis value_axis(double lo, double hi) {
  if (lo > hi) {  // nothing finite to show
    lo = 0;
    hi = 1;
  } else {
    const double pad = lo < hi ? 0.05 * (hi - lo) : lo != 0 ? 0.1 * std::fabs(lo) : 1;
    lo -= pad;
    hi += pad;
  }
  return {lo, hi, nice_number((hi - lo) / 6), number_label};
}

Axis order_axis(size_t count) {
  const double n = static_cast<double>(std::max<size_t>(count, 1));
  return {0.5, n + 0.5, std::max(1.0, nice_number(n / 10)), number_label};
}

// Ticks on whole seconds, minutes, hours or days of UTC.
Axis time_axis(double lo, double hi) {
  const double pad = lo < hi ? 0.05 * (hi - lo) : 60;
  lo -= pad;
  hi += pad;
  static constexpr double kSteps[] = {1,   2,   5,    10,   15,   30,    60,    120,   300,
                                      600, 900, 1800, 3600, 7200, 10800, 21600, 43200, 86400};
  const double raw = (hi - lo) / 8;
  const double* fit = std::find_if(std::begin(kSteps), std::end(kSteps),
                                   [raw](double step) { return step >= raw; });
  const double step = fit != std::end(kSteps) ? *fit : 86400 * nice_number(raw / 86400);
  return {lo, hi, step, time_label};
}

struct Canvas {
  cairo_t* cr;
  Axis x, y;
  double px(double v) const {
    return kLeft + (v - x.lo) / (x.hi - x.lo) * (kPlotWidth - kLeft - kRight);
  }
  double py(double v) const {
    return kPlotHeight - kBottom - (v - y.lo) / (y.hi - y.lo) * (kPlotHeight - kTop - kBottom);
  }
};

// Draws text with the point (x, y) at the fractions (ax, ay) of its box.
void text_at(cairo_t* cr, const std::string& text, double x, double y, double ax, double ay) {
  cairo_text_extents_t e;
  cairo_text_extents(cr, text.c_str(), &e);
  cairo_move_to(cr, x - ax * e.width - e.x_bearing, y - ay * e.height - e.y_bearing);
  cairo_show_text(cr, text.c_str());
}

void stroke_line(cairo_t* cr, double x0, double y0, double x1, double y1) {
  cairo_move_to(cr, x0, y0);
  cairo_line_to(cr, x1, y1);
  cairo_stroke(cr);
}

template <typename Draw>
void for_each_tick(const Axis& axis, Draw draw) {
  for (double k = std::ceil(axis.lo / axis.step); k * axis.step <= axis.hi; ++k)
    draw(k * axis.step);
}

void draw_axes(const Canvas& c, const std::string& x_title, const std::string& y_title) {
  cairo_t* cr = c.cr;
  const double left = kLeft, right = kPlotWidth - kRight;
  const double top = kTop, bottom = kPlotHeight - kBottom;
  cairo_set_line_width(cr, 1);
  cairo_set_font_size(cr, 14);
  for_each_tick(c.x, [&](double v) {
    const double x = std::round(c.px(v)) + 0.5;
    cairo_set_source_rgb(cr, 0.88, 0.88, 0.88);
    stroke_line(cr, x, top, x, bottom);
    cairo_set_source_rgb(cr, 0, 0, 0);
    stroke_line(cr, x, bottom, x, bottom + 6);
    text_at(cr, c.x.label(v, c.x.step), x, bottom + 10, 0.5, 0);
  });
  for_each_tick(c.y, [&](double v) {
    const double y = std::round(c.py(v)) + 0.5;
    cairo_set_source_rgb(cr, 0.88, 0.88, 0.88);
    stroke_line(cr, left, y, right, y);
    cairo_set_source_rgb(cr, 0, 0, 0);
    stroke_line(cr, left - 6, y, left, y);
    text_at(cr, c.y.label(v, c.y.step), left - 10, y, 1, 0.5);
  });
  cairo_rectangle(cr, left + 0.5, top + 0.5, right - left, bottom - top);
  cairo_stroke(cr);
  cairo_set_font_size(cr, 16);
  text_at(cr, x_title, (left + right) / 2, kPlotHeight - 22, 0.5, 1);
  cairo_save(cr);
  cairo_translate(cr, 24, (top + bottom) / 2);
  cairo_rotate(cr, -M_PI / 2);
  text_at(cr, y_title, 0, 0, 0.5, 0.5);
  cairo_restore(cr);
}

void marker(cairo_t* cr, const Series& s, double x, double y) {
  if (s.marker == Marker::none) return;
  if (s.marker == Marker::square)
    cairo_rectangle(cr, x - 4, y - 4, 8, 8);
  else
    cairo_arc(cr, x, y, 4.5, 0, 2 * M_PI);
  cairo_fill(cr);
}

void line_style(cairo_t* cr, const Series& s) {
  static const double kDash[] = {8, 5};
  cairo_set_source_rgb(cr, s.red, s.green, s.blue);
  cairo_set_line_width(cr, 2);
  cairo_set_dash(cr, kDash, s.measured ? 0 : 2, 0);
}

// A line through the finite ratios in the order of x, broken where one is
// not finite; returns how many were left out.
size_t draw_series(const Canvas& c, const Series& s, const std::vector<SessionRow>& rows,
                   const std::vector<double>& xs, const std::vector<size_t>& order) {
  cairo_t* cr = c.cr;
  line_style(cr, s);
  bool joined = false;
  size_t skipped = 0;
  for (size_t i : order) {
    const double ratio = s.ratio(rows[i]);
    if (!std::isfinite(ratio)) {
      joined = false;
      ++skipped;
      continue;
    }
    (joined ? cairo_line_to : cairo_move_to)(cr, c.px(xs[i]), c.py(ratio));
    joined = true;
  }
  cairo_stroke(cr);
  cairo_set_dash(cr, nullptr, 0, 0);
  cairo_set_line_width(cr, 1.5);
  for (size_t i : order) {
    if (!std::isfinite(s.ratio(rows[i]))) continue;
    const double x = c.px(xs[i]), value = s.ratio(rows[i]), error = error_of(rows[i], s);
    if (error > 0) {
      // One standard error either way, with caps.
      const double top = c.py(value + error), bottom = c.py(value - error);
      stroke_line(cr, x, top, x, bottom);
      stroke_line(cr, x - 5, top, x + 5, top);
      stroke_line(cr, x - 5, bottom, x + 5, bottom);
    }
    marker(cr, s, x, c.py(value));
  }
  return s.measured ? skipped : 0;
}

void draw_legend(cairo_t* cr) {
  cairo_set_font_size(cr, 15);
  double x = kPlotWidth - kRight;
  for (auto s = std::rbegin(kSeries); s != std::rend(kSeries); ++s) {
    cairo_text_extents_t e;
    cairo_text_extents(cr, s->name, &e);
    x -= e.x_advance;
    cairo_set_source_rgb(cr, 0, 0, 0);
    text_at(cr, s->name, x, kTop - 16, 0, 0.5);
    line_style(cr, *s);
    stroke_line(cr, x - 40, kTop - 16, x - 10, kTop - 16);
    cairo_set_dash(cr, nullptr, 0, 0);
    marker(cr, *s, x - 25, kTop - 16);
    x -= 70;
  }
}

cairo_status_t write_to_file(void* file, const unsigned char* data, unsigned int length) {
  return fwrite(data, 1, length, static_cast<FILE*>(file)) == length ? CAIRO_STATUS_SUCCESS
                                                                     : CAIRO_STATUS_WRITE_ERROR;
}

void draw(cairo_t* cr, const std::vector<SessionRow>& rows) {
  std::vector<double> xs;
  for (const SessionRow& row : rows) {
    const std::optional<double> t = row.date_obs ? parse_date_obs(*row.date_obs) : std::nullopt;
    if (!t) break;
    xs.push_back(*t);
  }
  const bool by_time = !rows.empty() && xs.size() == rows.size();
  if (!by_time) {
    xs.resize(rows.size());
    std::iota(xs.begin(), xs.end(), 1.0);
  }
  std::vector<size_t> order(rows.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [&xs](size_t a, size_t b) { return xs[a] < xs[b]; });

  double lo = INFINITY, hi = -INFINITY;
  for (const SessionRow& row : rows)
    for (const Series& s : kSeries)
      if (std::isfinite(s.ratio(row))) {
        lo = std::min(lo, s.ratio(row) - error_of(row, s));
        hi = std::max(hi, s.ratio(row) + error_of(row, s));
      }
  const Axis x = by_time ? time_axis(xs[order.front()], xs[order.back()]) : order_axis(rows.size());
  const Canvas c{cr, x, value_axis(lo, hi)};

  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_paint(cr);
  cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
  draw_axes(c,
            by_time ? "DATE-OBS (UTC), from " + utc_text(xs[order.front()], "%Y-%m-%d %H:%M:%S")
                    : "light, in the order of the batch",
            "scale of the dark's component");
  size_t skipped = 0;
  for (const Series& s : kSeries) skipped += draw_series(c, s, rows, xs, order);
  draw_legend(cr);
  cairo_set_source_rgb(cr, 0, 0, 0);
  cairo_set_font_size(cr, 20);
  const std::string lights =
      std::to_string(rows.size()) + (rows.size() == 1 ? " light" : " lights");
  const std::string method = rows.empty() ? "fit" : rows.front().method;
  text_at(cr,
          "Scales of the session (" + lights +
              (method == "fit" ? ", fitted, bars one standard error)" : ", the plug-in's levels)"),
          kLeft, 30, 0, 0.5);
  if (skipped) {
    cairo_set_font_size(cr, 14);
    text_at(cr, std::to_string(skipped) + " scale(s) not finite, not drawn", kLeft, kTop - 16, 0,
            0.5);
  }
}

}  // namespace

std::optional<double> parse_date_obs(const std::string& text) {
  // Digits at fixed places: YYYY-MM-DDThh:mm:ss
  static constexpr char kPattern[] = "dddd-dd-ddTdd:dd:dd";
  const size_t fixed = sizeof kPattern - 1;
  if (text.size() < fixed) return std::nullopt;
  for (size_t i = 0; i < fixed; ++i)
    if (kPattern[i] == 'd' ? !std::isdigit(static_cast<unsigned char>(text[i]))
                           : text[i] != kPattern[i])
      return std::nullopt;
  size_t end = fixed;
  double fraction = 0, scale = 0.1;
  if (end < text.size() && text[end] == '.') {
    for (++end; end < text.size() && std::isdigit(static_cast<unsigned char>(text[end])); ++end) {
      fraction += (text[end] - '0') * scale;
      scale /= 10;
    }
    if (end == fixed + 1) return std::nullopt;
  }
  if (end < text.size() && text[end] == 'Z') ++end;
  if (end != text.size()) return std::nullopt;

  auto field = [&text](size_t at, size_t digits) { return std::stoi(text.substr(at, digits)); };
  tm parts{};
  parts.tm_year = field(0, 4) - 1900;
  parts.tm_mon = field(5, 2) - 1;
  parts.tm_mday = field(8, 2);
  parts.tm_hour = field(11, 2);
  parts.tm_min = field(14, 2);
  parts.tm_sec = field(17, 2);
  static constexpr int kMonthDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (parts.tm_mon < 0 || parts.tm_mon > 11 || parts.tm_mday < 1 ||
      parts.tm_mday > kMonthDays[parts.tm_mon] || parts.tm_hour > 23 || parts.tm_min > 59 ||
      parts.tm_sec > 60)
    return std::nullopt;
  const int year = parts.tm_year + 1900;
  if (parts.tm_mon == 1 && parts.tm_mday == 29 && (year % 4 || (year % 100 == 0 && year % 400)))
    return std::nullopt;
  return static_cast<double>(timegm(&parts)) + fraction;
}

void write_plot(const std::string& path, const std::vector<SessionRow>& rows) {
  const std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)> surface(
      cairo_image_surface_create(CAIRO_FORMAT_RGB24, kPlotWidth, kPlotHeight),
      cairo_surface_destroy);
  const std::unique_ptr<cairo_t, decltype(&cairo_destroy)> cr(cairo_create(surface.get()),
                                                              cairo_destroy);
  draw(cr.get(), rows);
  cairo_status_t status = cairo_status(cr.get());
  if (status != CAIRO_STATUS_SUCCESS)
    throw ToolError(path, std::string("cannot be drawn: ") + cairo_status_to_string(status));
  FILE* file = fopen(path.c_str(), "wb");
  if (!file) throw ToolError(path, std::string("cannot be created: ") + std::strerror(errno));
  errno = 0;
  status = cairo_surface_write_to_png_stream(surface.get(), write_to_file, file);
  if (fclose(file) != 0 || status != CAIRO_STATUS_SUCCESS) {
    const int error = errno;
    remove(path.c_str());
    throw ToolError(path, "cannot be written" +
                              (error ? std::string(": ") + std::strerror(error) : std::string()));
  }
}
