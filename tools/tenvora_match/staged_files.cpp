#include "tools/tenvora_match/staged_files.h"

#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "tools/tenvora_match/tool_error.h"

std::string join_path(const std::string& dir, const std::string& name) {
  if (dir.empty() || dir.back() == '/') return dir + name;
  return dir + "/" + name;
}

void check_targets(const std::string& dir, const std::vector<std::string>& names, bool overwrite) {
  struct stat st;
  if (stat(dir.c_str(), &st) != 0) throw ToolError(dir, std::strerror(errno));
  if (!S_ISDIR(st.st_mode)) throw ToolError(dir, "not a directory");
  for (const std::string& name : names) {
    const std::string path = join_path(dir, name);
    if (lstat(path.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) throw ToolError(path, "is a directory");
    if (!overwrite) throw ToolError(path, "exists already (--overwrite replaces it)");
  }
}

StagedFiles::StagedFiles(const std::string& dir) : dir_(dir) {
  std::string pattern = join_path(dir, ".tenvora-match-XXXXXX");
  int fd = mkstemp(pattern.data());
  if (fd < 0) throw ToolError(dir, std::string("not writable: ") + std::strerror(errno));
  close(fd);
  reservation_ = pattern;
}

StagedFiles::~StagedFiles() {
  for (const std::string& name : names_) unlink((reservation_ + "-" + name).c_str());
  unlink(reservation_.c_str());
}

std::string StagedFiles::stage(const std::string& name) {
  names_.push_back(name);
  return reservation_ + "-" + name;
}

void StagedFiles::commit() {
  for (const std::string& name : names_) {
    const std::string target = join_path(dir_, name);
    if (rename((reservation_ + "-" + name).c_str(), target.c_str()) != 0)
      throw ToolError(target, std::string("cannot be put in place: ") + std::strerror(errno));
  }
}
