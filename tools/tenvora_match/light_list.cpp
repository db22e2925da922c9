#include "tools/tenvora_match/light_list.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>

#include "tools/tenvora_match/fits_io.h"
#include "tools/tenvora_match/tool_error.h"

namespace {

const char* const kExtensions[] = {".fits", ".fit", ".fts"};

std::string lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

bool ends_with(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The name without its FITS extension (and .gz); "" when it has none.
std::string stem(const std::string& name) {
  std::string low = lower(name);
  size_t size = name.size();
  if (ends_with(low, ".gz")) low.resize(size -= 3);
  for (const char* extension : kExtensions)
    if (ends_with(low, extension) && low.size() > std::strlen(extension))
      return name.substr(0, size - std::strlen(extension));
  return "";
}

std::string base_name(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool is_one_of(const std::string& path, const std::vector<FileId>& ids) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return false;
  return std::any_of(ids.begin(), ids.end(), [&st](const FileId& id) {
    return id.device == st.st_dev && id.inode == st.st_ino;
  });
}

// A FITS file this tool wrote: an output of an earlier run.
bool made_here(const std::string& path) {
  try {
    return fits_creator(path).rfind("tenvora-match", 0) == 0;
  } catch (const ToolError&) {
    return false;  // reported when it is read as a light
  }
}

void add_directory(const std::string& dir, const std::vector<FileId>& dark_and_bias,
                   std::vector<std::string>& lights) {
  DIR* d = opendir(dir.c_str());
  if (!d) throw ToolError(dir, std::string("cannot be read: ") + std::strerror(errno));
  std::vector<std::string> names;
  while (dirent* e = readdir(d))
    if (e->d_name[0] != '.' && !stem(e->d_name).empty()) names.push_back(e->d_name);
  closedir(d);
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    const std::string path = join_path(dir, name);
    struct stat st;
    if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) continue;
    if (!is_one_of(path, dark_and_bias) && !made_here(path)) lights.push_back(path);
  }
}

void add_argument(const std::string& argument, const std::vector<FileId>& dark_and_bias,
                  std::vector<std::string>& lights) {
  struct stat st;
  if (stat(argument.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
    add_directory(argument, dark_and_bias, lights);
  else
    lights.push_back(argument);  // a file that cannot be read fails as a light
}

}  // namespace

std::vector<std::string> expand_lights(const std::vector<std::string>& arguments,
                                       const std::vector<FileId>& dark_and_bias) {
  std::vector<std::string> lights;
  for (const std::string& argument : arguments) {
    if (argument.empty() || argument[0] != '@') {
      add_argument(argument, dark_and_bias, lights);
      continue;
    }
    const std::string list = argument.substr(1);
    std::ifstream in(list);
    if (!in) throw ToolError(list, std::string("cannot be read: ") + std::strerror(errno));
    for (std::string line; std::getline(in, line);) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (!line.empty() && line[0] != '#') add_argument(line, dark_and_bias, lights);
    }
    if (in.bad()) throw ToolError(list, "cannot be read");
  }
  if (lights.empty()) throw ToolError("LIGHT", "no light frames found");
  return lights;
}

std::vector<LightJob> light_jobs(const std::vector<std::string>& lights) {
  std::vector<LightJob> jobs;
  std::map<std::string, std::string> taken;  // prefix -> light
  for (const std::string& light : lights) {
    const std::string name = base_name(light);
    const std::string prefix = (stem(name).empty() ? name : stem(name)) + "_";
    const auto [at, fresh] = taken.emplace(prefix, light);
    if (!fresh)
      throw ToolError(light, "its outputs would take the names of those of " + at->second + " (" +
                                 prefix + "*)");
    jobs.push_back({light, prefix});
  }
  return jobs;
}
