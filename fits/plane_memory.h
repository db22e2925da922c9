// How the process takes memory for its planes.
#pragma once

#include <cstddef>
#include <new>
#include <utility>
#include <vector>

// Planes freed after one light are kept for the next instead of going back
// to the system, whose fresh pages would fault in again on first touch:
// every thread takes them from one heap, and none is mapped on its own.
// Call before any thread starts.
void keep_freed_planes();

// Memory for a plane of this many bytes. A large plane asks the system for
// huge pages: a first touch then faults once every 2 MiB instead of every
// 4 KiB, which on some machines is most of the cost of a fresh plane.
// Throws std::bad_alloc.
void* allocate_plane(size_t bytes);
void free_plane(void* plane) noexcept;

// Planes are written whole by the stage that makes them, so their elements
// are left uninitialised rather than zeroed first.
template <class T>
struct PlaneAllocator {
  using value_type = T;
  PlaneAllocator() = default;
  template <class U>
  PlaneAllocator(const PlaneAllocator<U>&) noexcept {}
  T* allocate(size_t n) {
    if (n > size_t(-1) / sizeof(T)) throw std::bad_alloc();
    return static_cast<T*>(allocate_plane(n * sizeof(T)));
  }
  void deallocate(T* p, size_t) noexcept { free_plane(p); }
  template <class U>
  void construct(U* p) noexcept {
    ::new (static_cast<void*>(p)) U;
  }
  template <class U, class... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
  template <class U>
  bool operator==(const PlaneAllocator<U>&) const noexcept {
    return true;
  }
  template <class U>
  bool operator!=(const PlaneAllocator<U>&) const noexcept {
    return false;
  }
};

// A plane of pixels, row after row.
using Pixels = std::vector<float, PlaneAllocator<float>>;
