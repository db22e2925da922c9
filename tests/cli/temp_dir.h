// Helpers of the tool's tests: scratch directories and small frames.
#pragma once

#include <dirent.h>
#include <stdlib.h>

#include <algorithm>
#include <set>
#include <string>

#include "fits/frame.h"

// A fresh directory under the temporary directory, removed with its files.
class TempDir {
 public:
  TempDir() {
    std::string pattern = "/tmp/tenvora-cli-XXXXXX";
    path_ = mkdtemp(pattern.data());
  }
  ~TempDir() { std::system(("rm -rf '" + path_ + "'").c_str()); }
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Every name in a directory, hidden ones included.
inline std::set<std::string> list_dir(const std::string& dir) {
  std::set<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d))
      if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.insert(e->d_name);
    closedir(d);
  }
  return names;
}

inline Frame ramp_frame(int32_t width, int32_t height, float start, float step) {
  Frame f{width, height, {}};
  for (int32_t i = 0; i < width * height; ++i) f.pixels.push_back(start + step * i);
  return f;
}
