#include "tools/tenvora_match/job_count.h"

#include <unistd.h>

#include <algorithm>
#include <limits>

int planes_per_job(const RunSettings& s) {
  const auto wanted = [&s](const char* kind) {
    return std::find(s.kinds.begin(), s.kinds.end(), kind) != s.kinds.end();
  };
  // The light, the matched dark, the scaled components when one of them is
  // written, the corrected image with --subtract.
  return 2 + (wanted("glow") || wanted("hot") ? 2 : 0) + (s.subtract ? 1 : 0);
}

int default_jobs(long long plane_bytes, int shared_planes, int job_planes, long long memory_bytes,
                 int cores, size_t lights) {
  const long long budget = memory_bytes / 2 - shared_planes * plane_bytes;
  const long long job_bytes = std::max(1LL, job_planes * plane_bytes);
  const long long fit = budget / job_bytes;
  const long long most =
      std::min<long long>({std::max(cores, 1), fit, 256LL, static_cast<long long>(lights)});
  return static_cast<int>(std::max(1LL, most));
}

int machine_jobs(long long plane_bytes, int shared_planes, int job_planes, size_t lights) {
  const long cores = sysconf(_SC_NPROCESSORS_ONLN);
  const long long memory = static_cast<long long>(sysconf(_SC_PHYS_PAGES)) * sysconf(_SC_PAGE_SIZE);
  // Unknown memory leaves only the cores to count.
  return default_jobs(plane_bytes, shared_planes, job_planes,
                      memory > 0 ? memory : std::numeric_limits<long long>::max(),
                      static_cast<int>(cores), lights);
}
