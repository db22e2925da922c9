#include "tools/tenvora_match/plane_memory.h"

#include <malloc.h>

void keep_freed_planes() {
  mallopt(M_ARENA_MAX, 1);
  mallopt(M_MMAP_MAX, 0);
  mallopt(M_TRIM_THRESHOLD, -1);
}
