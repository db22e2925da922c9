// The memory the Python module's output planes live in. Fresh pages are dear
// (each faults in on its first touch), so a block given back is kept for the
// next call that asks for one of its size instead of going back to the system.
#pragma once

#include <cstddef>

// How many blocks are kept at most: the output planes of one match.
constexpr size_t kKeptBlocks = 4;

// A block of `bytes`, a kept one when there is one. Asking for another size
// than the last frees the kept blocks first, so a frame size no longer used
// holds no memory. Throws std::bad_alloc.
void* take_block(size_t bytes);

// A block of `bytes` from take_block, kept while fewer than kKeptBlocks of
// the size last asked for are, else freed. Any thread may give one back.
void give_back(void* block, size_t bytes);
