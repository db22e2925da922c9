#include "testhost/scenario_file.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "testhost/test_frames.h"

namespace testhost {
namespace {

bool read_file(const std::string& path, std::string& contents) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream all;
  all << in.rdbuf();
  contents = all.str();
  return true;
}

std::string folder_of(const std::string& path) {
  size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

bool positive(const std::string& word, int32_t& value) {
  char* end = nullptr;
  long parsed = std::strtol(word.c_str(), &end, 10);
  value = int32_t(parsed);
  return !word.empty() && *end == '\0' && parsed > 0 && parsed <= 100000;
}

// image "TITLE" WIDTH HEIGHT SOURCE...
bool parse_image(const std::string& rest, const std::string& folder, ImageSpec& image,
                 std::string& error) {
  size_t open = rest.find('"');
  size_t close = open == std::string::npos ? open : rest.find('"', open + 1);
  if (close == std::string::npos) {
    error = "want a quoted title";
    return false;
  }
  image.title = rest.substr(open + 1, close - open - 1);
  std::istringstream words(rest.substr(close + 1));
  std::string width, height, word;
  words >> width >> height;
  std::vector<std::string> source;
  while (words >> word) source.push_back(word);
  if (!positive(width, image.width) || !positive(height, image.height) || source.empty()) {
    error = "want a width, a height and a source";
    return false;
  }
  if (source[0] != "file")
    return generate_frame(source, image.width, image.height, image.pixels, error);
  std::string bytes;
  if (source.size() != 2 || !read_file(folder + source[1], bytes)) {
    error = "cannot read the raw file";
    return false;
  }
  if (bytes.size() != size_t(image.width) * size_t(image.height) * sizeof(float)) {
    error = "the raw file does not hold width x height floats";
    return false;
  }
  image.pixels.resize(bytes.size() / sizeof(float));
  bytes.copy(reinterpret_cast<char*>(image.pixels.data()), bytes.size());
  return true;
}

}  // namespace

bool load_scenario_file(const std::string& path, ScenarioFile& scenario, std::string& error) {
  std::string text;
  if (!read_file(path, text)) {
    error = path + ": cannot read";
    return false;
  }
  // Setup lines become blank lines of the step text, so that the step
  // parser's line numbers stay those of the file.
  std::istringstream lines(text);
  std::string line, step_text;
  for (int number = 1; std::getline(lines, line); ++number) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::istringstream words(line);
    std::string verb;
    words >> verb;
    std::string rest;
    std::getline(words, rest);
    if (!rest.empty() && rest[0] == ' ') rest.erase(0, 1);
    std::string fault;
    if (verb == "window") {
      scenario.window_title = rest;
    } else if (verb == "image") {
      ImageSpec image;
      if (!parse_image(rest, folder_of(path), image, fault)) {
        error = path + ": line " + std::to_string(number) + ": " + fault;
        return false;
      }
      scenario.images.push_back(std::move(image));
    } else if (verb == "active") {
      char* end = nullptr;
      scenario.active = ImageHandle(std::strtol(rest.c_str(), &end, 0));
      if (rest.empty() || *end != '\0') {
        error = path + ": line " + std::to_string(number) + ": want an image number";
        return false;
      }
    } else {
      step_text += line;
    }
    step_text += "\n";
  }
  if (!parse_scenario(step_text, scenario.steps, error)) {
    error = path + ": " + error;
    return false;
  }
  return true;
}

void open_images(ScenarioFile& scenario, HostEmulation& host) {
  for (ImageSpec& image : scenario.images) {
    host.add_image(image.title, image.width, image.height, image.pixels);
    std::vector<float>().swap(image.pixels);
  }
}

}  // namespace testhost

namespace testhost {

bool parse_host_options(int argc, char** argv, HostOptions& options) {
  std::vector<std::string> positional;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--title" && i + 1 < argc) {
      options.title_given = true;
      options.title = argv[++i];
    } else if (arg == "--no-images") {
      options.pixels = false;
    } else if (arg == "--pause-after" && i + 1 < argc) {
      options.pause_after = size_t(std::strtoul(argv[++i], nullptr, 10));
    } else if (!arg.empty() && arg[0] == '-') {
      return false;
    } else {
      positional.push_back(arg);
    }
  }
  if (positional.size() != 2) return false;
  options.scenario = positional[0];
  options.out_dir = positional[1];
  return true;
}

bool read_host_run(int argc, char** argv, const char* usage, HostOptions& options,
                   ScenarioFile& scenario, std::string& title) {
  if (!parse_host_options(argc, argv, options)) {
    std::fprintf(stderr, "usage: %s\n", usage);
    return false;
  }
  std::string error;
  if (!load_scenario_file(options.scenario, scenario, error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return false;
  }
  title = options.title_given ? options.title : scenario.window_title;
  return true;
}

}  // namespace testhost
