#include "fits/plane_memory.h"

#include <malloc.h>
#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>

namespace {

constexpr size_t kHugePage = size_t(2) << 20;

}  // namespace

void keep_freed_planes() {
  mallopt(M_ARENA_MAX, 1);
  mallopt(M_MMAP_MAX, 0);
  mallopt(M_TRIM_THRESHOLD, -1);
}

void* allocate_plane(size_t bytes) {
  void* plane = std::malloc(bytes ? bytes : 1);
  if (!plane) throw std::bad_alloc();
  // Only a hint, for the whole huge pages inside the plane: aligning the
  // plane itself would keep freed planes from fitting the next one.
  const uintptr_t start = (reinterpret_cast<uintptr_t>(plane) + kHugePage - 1) & ~(kHugePage - 1);
  const uintptr_t end = (reinterpret_cast<uintptr_t>(plane) + bytes) & ~(kHugePage - 1);
  if (start < end) madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
  return plane;
}

void free_plane(void* plane) noexcept {
  std::free(plane);
}
