// How many lights a run matches at once.
#pragma once

#include <cstdint>

#include "tools/tenvora_match/match_files.h"

// The planes one job holds while it matches a light: the light and the
// output planes the pipeline makes for the settings.
int planes_per_job(const RunSettings& settings);

// The default number of jobs: one per core, fewer when the run's planes
// (shared ones once, a job's planes per job) would take more than half of
// memory_bytes; at least one, never more than lights.
int default_jobs(long long plane_bytes, int shared_planes, int job_planes, long long memory_bytes,
                 int cores, size_t lights);

// The same for this machine: its cores and physical memory.
int machine_jobs(long long plane_bytes, int shared_planes, int job_planes, size_t lights);
