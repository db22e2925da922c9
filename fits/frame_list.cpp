#include "fits/frame_list.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "fits/fits_io.h"
#include "fits/tool_error.h"

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

bool is_one_of(const std::string& path, const std::vector<FileId>& ids) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return false;
  return std::any_of(ids.begin(), ids.end(), [&st](const FileId& id) {
    return id.device == st.st_dev && id.inode == st.st_ino;
  });
}

// What a directory's files are checked against.
struct Leave {
  const std::vector<FileId>& excluded;
  const std::vector<std::string>& made_by;
};

// A FITS file one of our programs wrote: an output of an earlier run.
bool made_by_us(const std::string& path, const Leave& leave) {
  try {
    const std::string creator = fits_creator(path);
    return std::any_of(leave.made_by.begin(), leave.made_by.end(),
                       [&creator](const std::string& p) { return creator.rfind(p, 0) == 0; });
  } catch (const ToolError&) {
    return false;  // reported when it is read as a frame
  }
}

void add_directory(const std::string& dir, const Leave& leave, std::vector<std::string>& frames) {
  DIR* d = opendir(dir.c_str());
  if (!d) throw ToolError(dir, std::string("cannot be read: ") + std::strerror(errno));
  std::vector<std::string> names;
  while (dirent* e = readdir(d))
    if (e->d_name[0] != '.' && !fits_stem(e->d_name).empty()) names.push_back(e->d_name);
  closedir(d);
  std::sort(names.begin(), names.end(), natural_less);
  for (const std::string& name : names) {
    const std::string path = join_path(dir, name);
    struct stat st;
    if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) continue;
    if (!is_one_of(path, leave.excluded) && !made_by_us(path, leave)) frames.push_back(path);
  }
}

void add_argument(const std::string& argument, const Leave& leave,
                  std::vector<std::string>& frames) {
  struct stat st;
  if (stat(argument.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
    add_directory(argument, leave, frames);
  else
    frames.push_back(argument);  // a file that cannot be read fails as a frame
}

// Room for any path, and for more lights than any night holds.
constexpr size_t kMaxListLine = 4096;
constexpr size_t kMaxListLines = 1000000;

// The lines of an @list, read from a file or a pipe (@/dev/stdin) a byte at
// a time; refused as soon as it holds what no list of paths holds, so that
// @/dev/zero or @dark.fits costs nothing.
std::vector<std::string> list_lines(const std::string& list) {
  if (list.empty()) throw ToolError("@", "names no list (@FILE reads paths from FILE, one a line)");
  struct stat st;
  if (stat(list.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
    throw ToolError(list, "is a directory, not a list of paths (give the directory without @)");
  std::unique_ptr<FILE, int (*)(FILE*)> in(fopen(list.c_str(), "rb"), fclose);
  if (!in) throw ToolError(list, std::string("cannot be read: ") + std::strerror(errno));
  std::vector<std::string> lines(1);
  auto refuse = [&](const std::string& what) {
    throw ToolError(list,
                    "line " + std::to_string(lines.size()) + " " + what + ": not a list of paths");
  };
  for (int c; (c = getc(in.get())) != EOF;) {
    if (c == '\n') {
      if (lines.size() == kMaxListLines)
        throw ToolError(list, "holds more than " + std::to_string(kMaxListLines) + " lines");
      lines.emplace_back();
      continue;
    }
    if (c == '\0') refuse("holds a NUL byte");
    if (lines.back().size() == kMaxListLine)
      refuse("is longer than " + std::to_string(kMaxListLine) + " bytes");
    lines.back() += static_cast<char>(c);
    if (lines.size() == 1 && lines[0] == "SIMPLE  =")
      throw ToolError(list, "is a FITS file, not a list of paths (give it without @)");
  }
  if (ferror(in.get()))
    throw ToolError(list, std::string("cannot be read: ") + std::strerror(errno));
  return lines;
}

}  // namespace

bool natural_less(const std::string& a, const std::string& b) {
  const auto digit = [](char c) { return c >= '0' && c <= '9'; };
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (!digit(a[i]) || !digit(b[j])) {
      if (a[i] != b[j]) return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
      ++i, ++j;
      continue;
    }
    // Two runs of digits: the one of fewer digits after its leading zeros is
    // the smaller number, else the first digit that differs decides.
    size_t a_end = i, b_end = j;
    while (a_end < a.size() && digit(a[a_end])) ++a_end;
    while (b_end < b.size() && digit(b[b_end])) ++b_end;
    const size_t a_start = std::min(a.find_first_not_of('0', i), a_end);
    const size_t b_start = std::min(b.find_first_not_of('0', j), b_end);
    if (a_end - a_start != b_end - b_start) return a_end - a_start < b_end - b_start;
    const int order = a.compare(a_start, a_end - a_start, b, b_start, b_end - b_start);
    if (order != 0) return order < 0;
    i = a_end, j = b_end;
  }
  if (i < a.size() || j < b.size()) return j < b.size();
  return a < b;  // equal but for leading zeros: as plain text, to keep one order
}

std::string fits_stem(const std::string& name) {
  std::string low = lower(name);
  size_t size = name.size();
  if (ends_with(low, ".gz") || ends_with(low, ".fz")) low.resize(size -= 3);
  for (const char* extension : kExtensions)
    if (ends_with(low, extension) && low.size() > std::strlen(extension))
      return name.substr(0, size - std::strlen(extension));
  return "";
}

std::string base_name(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::vector<std::string> expand_frames(const std::vector<std::string>& arguments,
                                       const std::vector<FileId>& excluded,
                                       const std::vector<std::string>& made_by,
                                       const std::string& what) {
  const Leave leave{excluded, made_by};
  std::vector<std::string> frames;
  for (const std::string& argument : arguments) {
    if (argument.empty() || argument[0] != '@') {
      add_argument(argument, leave, frames);
      continue;
    }
    for (std::string& line : list_lines(argument.substr(1))) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (!line.empty() && line[0] != '#') add_argument(line, leave, frames);
    }
  }
  if (frames.empty()) throw ToolError(what, "no " + lower(what) + " frames found");
  return frames;
}
