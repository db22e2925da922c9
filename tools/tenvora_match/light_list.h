// The lights of a batch run, from LIGHT arguments, and their output names.
#pragma once

#include <string>
#include <vector>

#include "fits/staged_files.h"
#include "tools/tenvora_match/match_files.h"

// The LIGHT arguments as frame_list.h expands them, leaving out the run's own
// dark and bias and this tool's outputs.
std::vector<std::string> expand_lights(const std::vector<std::string>& arguments,
                                       const std::vector<FileId>& dark_and_bias);

// A job per light, its outputs named after the light: m42_0001.fits gives
// m42_0001_matched.fits. Refuses (ToolError) a light given twice and two
// lights whose outputs would take one name.
std::vector<LightJob> light_jobs(const std::vector<std::string>& lights);
