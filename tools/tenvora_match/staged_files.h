// Files that appear in a directory all together or not at all: each is
// written under a temporary name and renamed into place by commit().
#pragma once

#include <string>
#include <vector>

class StagedFiles {
 public:
  // Reserves a unique prefix in dir; throws ToolError when dir is not a
  // directory the tool can write to.
  explicit StagedFiles(const std::string& dir);
  ~StagedFiles();
  StagedFiles(const StagedFiles&) = delete;
  StagedFiles& operator=(const StagedFiles&) = delete;

  // The temporary path to write the file named name (in dir) to.
  std::string stage(const std::string& name);
  // Renames every staged file to its final name.
  void commit();

 private:
  std::string dir_;
  std::string reservation_;  // the empty file that keeps the prefix ours
  std::vector<std::string> names_;
};

// Refuses (ToolError) when dir is not an existing directory, or when one of
// the names already exists in it and overwrite is false.
void check_targets(const std::string& dir, const std::vector<std::string>& names, bool overwrite);

std::string join_path(const std::string& dir, const std::string& name);
