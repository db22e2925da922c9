// The frames a command line names: files, directories of FITS files and
// @lists of them.
#pragma once

#include <string>
#include <vector>

#include "fits/staged_files.h"

// Files as they are; a directory's FITS files (.fits, .fit, .fts, each also
// with .gz or .fz; any case), in natural order (natural_less), leaving out hidden files, the files
// our programs wrote (CREATOR starting with one of made_by) and the files of
// excluded; @FILE for the paths listed in FILE, one a line (blank lines and
// lines starting with # left out), each a file or a directory; FILE may be a
// pipe, and is refused when it holds a NUL byte, a line of more than 4096
// bytes or more than a million lines. Throws
// ToolError for a directory or list that cannot be read, and ToolError(what,
// "no ... frames found") when nothing is left.
std::vector<std::string> expand_frames(const std::vector<std::string>& arguments,
                                       const std::vector<FileId>& excluded,
                                       const std::vector<std::string>& made_by,
                                       const std::string& what);

// Names compared with each run of digits taken as a number: light_2 before
// light_10, 20s before 150s. Otherwise byte by byte.
bool natural_less(const std::string& a, const std::string& b);

// The name without its FITS extension (and .gz or .fz); "" when it has none.
std::string fits_stem(const std::string& name);

std::string base_name(const std::string& path);
