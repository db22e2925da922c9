#include "python/plane_pool.h"

#include <sys/mman.h>

#include <cstdlib>
#include <mutex>
#include <new>
#include <vector>

namespace {

constexpr size_t kHugePage = size_t(2) << 20;

struct Pool {
  std::mutex lock;
  size_t bytes = 0;  // the size last asked for, the only one kept
  std::vector<void*> kept;
};

// Never destroyed: arrays may still give their blocks back while the
// interpreter shuts down, after the module's statics are gone.
Pool& pool() {
  static Pool* const shared = [] {
    Pool* made = new Pool;
    // give_back then never allocates, as it may run in a destructor.
    made->kept.reserve(kKeptBlocks);
    return made;
  }();
  return *shared;
}

// Large blocks lie on huge-page bounds and ask to be backed by huge pages, as
// numpy's own do, so a fresh one faults in 2 MiB at a time. Smaller ones would
// round up to a whole huge page.
void* new_block(size_t bytes) {
  void* block;
  if (bytes < 2 * kHugePage) {
    block = std::malloc(bytes);
  } else {
    const size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
    block = std::aligned_alloc(kHugePage, rounded);
#ifdef MADV_HUGEPAGE
    if (block) madvise(block, rounded, MADV_HUGEPAGE);
#endif
  }
  if (!block) throw std::bad_alloc();
  return block;
}

}  // namespace

void* take_block(size_t bytes) {
  Pool& p = pool();
  {
    std::lock_guard<std::mutex> hold(p.lock);
    if (bytes != p.bytes) {
      for (void* block : p.kept) std::free(block);
      p.kept.clear();
      p.bytes = bytes;
    } else if (!p.kept.empty()) {
      void* block = p.kept.back();
      p.kept.pop_back();
      return block;
    }
  }
  return new_block(bytes);
}

void give_back(void* block, size_t bytes) {
  Pool& p = pool();
  {
    std::lock_guard<std::mutex> hold(p.lock);
    if (bytes == p.bytes && p.kept.size() < kKeptBlocks) {
      p.kept.push_back(block);
      return;
    }
  }
  std::free(block);
}
