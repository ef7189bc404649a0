// The rules of operator new and delete, over any heap: portable, so that the native unit tests
// drive them with a fake heap; cxx_support.cpp applies them to the process heap.
//
// `Heap` provides static `void* Allocate(std::size_t)` (null on failure), `void Free(void*)`
// (never given null) and `void OutOfMemory()` (ends the program in the real heap).
#pragma once

#include <cstddef>

namespace zynrt {

// Every successful new answers an address of its own, a zero-byte request included, so that
// request takes one byte.
constexpr std::size_t BlockRequest(std::size_t size) {
  return size != 0 ? size : 1;
}

// The nothrow forms: null when the heap has no room.
template <class Heap>
void* AllocateOrNull(std::size_t size) {
  return Heap::Allocate(BlockRequest(size));
}

// The ordinary forms: never null. Without exceptions there is no bad_alloc to throw, so a heap
// without room ends the program (OutOfMemory) instead of answering null to code that would
// write through it.
template <class Heap>
void* Allocate(std::size_t size) {
  void* block = AllocateOrNull<Heap>(size);
  if (block == nullptr)
    Heap::OutOfMemory();
  return block;
}

// delete: deleting null does nothing.
template <class Heap>
void Release(void* block) {
  if (block != nullptr)
    Heap::Free(block);
}

}  // namespace zynrt
