// The lights of a batch run, from LIGHT arguments, and their output names.
#pragma once

#include <string>
#include <vector>

#include "tools/tenvora_match/match_files.h"
#include "tools/tenvora_match/staged_files.h"

// Files as they are; a directory's FITS files (.fits, .fit, .fts, each also
// with .gz; any case), sorted by name, leaving out hidden files, the
// files this tool wrote (CREATOR tenvora-match) and the run's own dark and
// bias; @FILE for the paths listed in FILE, one a line (blank lines and
// lines starting with # left out), each a file or a directory. Throws
// ToolError for a directory or list that cannot be read.
std::vector<std::string> expand_lights(const std::vector<std::string>& arguments,
                                       const std::vector<FileId>& dark_and_bias);

// A job per light, its outputs named after the light: m42_0001.fits gives
// m42_0001_matched.fits. Refuses (ToolError) two lights whose outputs would
// take one name.
std::vector<LightJob> light_jobs(const std::vector<std::string>& lights);
