#include "fits/staged_files.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <set>
#include <thread>

#include "fits/tool_error.h"

namespace {

// Every staged file of the process, for removal on an interruption. Files
// are made, and sets put in place, only while busy is counted up, and the
// interruption waits for none to be busy: so no file is made after the
// removal, and no set is left half placed.
struct Registry {
  std::mutex mutex;
  std::condition_variable idle;
  int busy = 0;
  bool stopping = false;
  std::set<std::string> paths;
};

Registry& registry() {
  static Registry r;
  return r;
}

struct Busy {
  Busy() {
    Registry& r = registry();
    std::unique_lock<std::mutex> lock(r.mutex);
    // After an interruption, wait for the end of the process.
    r.idle.wait(lock, [&r] { return !r.stopping; });
    ++r.busy;
  }
  ~Busy() {
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    --r.busy;
    r.idle.notify_all();
  }
};

void track(const std::string& path) {
  std::lock_guard<std::mutex> lock(registry().mutex);
  registry().paths.insert(path);
}

void forget(const std::string& path) {
  std::lock_guard<std::mutex> lock(registry().mutex);
  registry().paths.erase(path);
}

bool same_file(const struct stat& st, const std::vector<FileId>& ids) {
  for (const FileId& id : ids)
    if (id.device == st.st_dev && id.inode == st.st_ino) return true;
  return false;
}

void refuse_input(const std::string& target, const std::vector<FileId>& inputs) {
  struct stat st;
  if (stat(target.c_str(), &st) == 0 && same_file(st, inputs))
    throw ToolError(target, "is one of the input files; an output never replaces an input");
}

[[noreturn]] void refuse_placing(const std::string& target, int error) {
  if (error == EEXIST) throw ToolError(target, "exists already (--overwrite replaces it)");
  throw ToolError(target, std::string("cannot be put in place: ") + std::strerror(error));
}

// Renames without ever replacing; where the file system cannot, a hard
// link, which never replaces either, and the removal of the old name.
void place_new(const std::string& from, const std::string& target) {
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) return;
  if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) refuse_placing(target, errno);
  if (link(from.c_str(), target.c_str()) != 0) refuse_placing(target, errno);
  unlink(from.c_str());
}

struct Descriptor {
  int fd;
  ~Descriptor() {
    if (fd >= 0) close(fd);
  }
};

}  // namespace

std::string join_path(const std::string& dir, const std::string& name) {
  if (dir.empty() || dir.back() == '/') return dir + name;
  return dir + "/" + name;
}

std::vector<FileId> file_ids(const std::vector<std::string>& paths) {
  std::vector<FileId> ids;
  struct stat st;
  for (const std::string& path : paths)
    if (!path.empty() && stat(path.c_str(), &st) == 0) ids.push_back({st.st_dev, st.st_ino});
  return ids;
}

bool same_file(const std::string& a, const std::string& b) {
  const std::vector<FileId> ids = file_ids({a, b});
  return ids.size() == 2 && ids[0].device == ids[1].device && ids[0].inode == ids[1].inode;
}

void check_targets(const std::string& dir, const std::vector<std::string>& names, bool overwrite,
                   const std::vector<FileId>& inputs) {
  struct stat st;
  if (stat(dir.c_str(), &st) != 0) throw ToolError(dir, std::strerror(errno));
  if (!S_ISDIR(st.st_mode)) throw ToolError(dir, "not a directory");
  if (faccessat(AT_FDCWD, dir.c_str(), W_OK | X_OK, AT_EACCESS) != 0)
    throw ToolError(dir, std::string("not writable: ") + std::strerror(errno));
  const long name_max = pathconf(dir.c_str(), _PC_NAME_MAX);
  for (const std::string& name : names) {
    const std::string path = join_path(dir, name);
    if (name_max > 0 && name.size() > static_cast<size_t>(name_max))
      throw ToolError(path, "name too long: " + std::to_string(name.size()) + " bytes, the file " +
                                "system takes " + std::to_string(name_max));
    if (lstat(path.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) throw ToolError(path, "is a directory");
    refuse_input(path, inputs);
    if (!overwrite) throw ToolError(path, "exists already (--overwrite replaces it)");
  }
}

StagedFiles::StagedFiles(const std::string& dir) : dir_(dir) {
  Busy busy;
  std::string pattern = join_path(dir, ".tenvora-match-XXXXXX");
  int fd = mkostemp(pattern.data(), O_CLOEXEC);
  if (fd < 0) throw ToolError(dir, std::string("not writable: ") + std::strerror(errno));
  close(fd);
  reservation_ = pattern;
  track(reservation_);
}

StagedFiles::~StagedFiles() {
  for (const Staged& file : staged_) {
    unlink(file.path.c_str());
    forget(file.path);
  }
  unlink(reservation_.c_str());
  forget(reservation_);
}

void StagedFiles::drop(const std::string& path) {
  unlink(path.c_str());
  forget(path);
  staged_.pop_back();
}

void StagedFiles::write(const std::string& name,
                        const std::function<void(const std::string&)>& write) {
  // A short name, whatever the length of the file's own (up to the limit of
  // the file system); the extension stays for writers that go by it.
  const size_t dot = name.rfind('.');
  const std::string extension =
      dot != std::string::npos && name.size() - dot <= 8 ? name.substr(dot) : "";
  const std::string path = reservation_ + "-" + std::to_string(count_++) + extension;
  Busy busy;
  staged_.push_back({path, name});
  track(path);
  try {
    write(path);
  } catch (const ToolError& e) {
    drop(path);
    // The user knows the file by the name it was to take.
    if (e.subject == path) throw ToolError(join_path(dir_, name), e.problem);
    throw;
  } catch (...) {
    drop(path);
    throw;
  }
}

void StagedFiles::commit(bool overwrite, const std::vector<FileId>& inputs) {
  Busy busy;
  Descriptor dir{open(dir_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
  if (dir.fd < 0 || flock(dir.fd, LOCK_EX) != 0)
    throw ToolError(dir_, std::string("cannot be locked: ") + std::strerror(errno));
  std::vector<std::string> placed;
  try {
    for (const Staged& file : staged_) {
      const std::string target = join_path(dir_, file.name);
      refuse_input(target, inputs);
      if (overwrite) {
        if (rename(file.path.c_str(), target.c_str()) != 0) refuse_placing(target, errno);
      } else {
        place_new(file.path, target);
      }
      placed.push_back(target);
    }
  } catch (const ToolError&) {
    // Replaced files cannot come back; new ones are withdrawn.
    if (!overwrite)
      for (const std::string& target : placed) unlink(target.c_str());
    throw;
  }
  for (const Staged& file : staged_) forget(file.path);
  staged_.clear();
}

void remove_staged_files_on_interrupt() {
  static sigset_t signals;
  sigemptyset(&signals);
  // A closed terminal or a dropped connection (SIGHUP) ends a run as Ctrl-C does.
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&signals, signal_number);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  std::thread([] {
    int signal_number = 0;
    sigwait(&signals, &signal_number);
    Registry& r = registry();
    std::unique_lock<std::mutex> lock(r.mutex);
    r.stopping = true;
    r.idle.wait(lock, [&r] { return r.busy == 0; });
    for (const std::string& path : r.paths) unlink(path.c_str());
    // End as the signal would have ended the process.
    signal(signal_number, SIG_DFL);
    pthread_sigmask(SIG_UNBLOCK, &signals, nullptr);
    raise(signal_number);
    _exit(128 + signal_number);
  }).detach();
}
