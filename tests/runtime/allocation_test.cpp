#include "runtime/allocation.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// A heap that records every call and can be told to have no room.
struct FakeHeap {
  static inline std::vector<std::size_t> requests;
  static inline std::vector<void*> freed;
  static inline int out_of_memory = 0;
  static inline bool full = false;
  static inline char block[16];

  static void* Allocate(std::size_t size) {
    requests.push_back(size);
    return full ? nullptr : block;
  }
  static void Free(void* p) { freed.push_back(p); }
  static void OutOfMemory() { ++out_of_memory; }
};

TEST(RuntimeAllocation, NewDeleteRulesOverTheHeap) {
  // A zero-byte request still gets a block of its own.
  EXPECT_EQ(zynrt::Allocate<FakeHeap>(0), FakeHeap::block);
  EXPECT_EQ(zynrt::AllocateOrNull<FakeHeap>(0), FakeHeap::block);
  EXPECT_EQ(zynrt::Allocate<FakeHeap>(261), FakeHeap::block);
  EXPECT_EQ(FakeHeap::requests, (std::vector<std::size_t>{1, 1, 261}));
  EXPECT_EQ(FakeHeap::out_of_memory, 0);

  // Only the ordinary form ends the program when the heap is full; nothrow answers null.
  FakeHeap::full = true;
  EXPECT_EQ(zynrt::AllocateOrNull<FakeHeap>(8), nullptr);
  EXPECT_EQ(FakeHeap::out_of_memory, 0);
  zynrt::Allocate<FakeHeap>(8);
  EXPECT_EQ(FakeHeap::out_of_memory, 1);

  // Deleting null never reaches the heap.
  zynrt::Release<FakeHeap>(nullptr);
  zynrt::Release<FakeHeap>(FakeHeap::block);
  EXPECT_EQ(FakeHeap::freed, (std::vector<void*>{FakeHeap::block}));
}

}  // namespace
