// Files that appear in a directory all together or not at all: each is
// written under a temporary name and put in place by commit(). A run makes
// one staged set per light; the sets of concurrent runs never mix.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

// A file's identity: outputs must never be one of the inputs.
struct FileId {
  dev_t device;
  ino_t inode;
};

// The identities of the paths that exist.
std::vector<FileId> file_ids(const std::vector<std::string>& paths);
// Whether both paths exist and are one file (or directory).
bool same_file(const std::string& a, const std::string& b);

class StagedFiles {
 public:
  // Reserves a unique prefix in dir; throws ToolError when dir is not a
  // directory the tool can write to.
  explicit StagedFiles(const std::string& dir);
  // Removes every staged file not put in place.
  ~StagedFiles();
  StagedFiles(const StagedFiles&) = delete;
  StagedFiles& operator=(const StagedFiles&) = delete;

  // Has write make the file named name (in dir) at the temporary path it is
  // given. An interruption (SIGINT, SIGTERM, SIGHUP) waits for write to end and then
  // removes the file. When write throws, the file is dropped from the set,
  // and a ToolError about the temporary path is thrown about dir/name.
  void write(const std::string& name, const std::function<void(const std::string&)>& write);
  // Puts every written file in place, holding a lock on the directory so
  // that the sets of concurrent runs do not interleave. Without overwrite an
  // existing file is never replaced: the set is withdrawn and ToolError
  // thrown. A target that is one of inputs is refused either way.
  void commit(bool overwrite, const std::vector<FileId>& inputs);

 private:
  void drop(const std::string& path);

  std::string dir_;
  std::string reservation_;  // the empty file that keeps the prefix ours
  struct Staged {
    std::string path, name;  // where it is written, the name it takes
  };
  std::vector<Staged> staged_;
  size_t count_ = 0;
};

// Refuses (ToolError) when dir is not an existing directory the tool can
// write to, when one of the names is longer than its file system takes or
// is one of inputs in it, or when one of them already exists and overwrite
// is false.
void check_targets(const std::string& dir, const std::vector<std::string>& names, bool overwrite,
                   const std::vector<FileId>& inputs);

// From here on, SIGINT, SIGTERM and SIGHUP remove every staged file of the
// process and then end it as the signal would. Call from main before any
// thread starts: the signals are handled by a thread of their own.
void remove_staged_files_on_interrupt();

std::string join_path(const std::string& dir, const std::string& name);
