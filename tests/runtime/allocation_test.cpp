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

  static void Reset() {
    requests.clear();
    freed.clear();
    out_of_memory = 0;
    full = false;
  }
  static void* Allocate(std::size_t size) {
    requests.push_back(size);
    return full ? nullptr : block;
  }
  static void Free(void* p) { freed.push_back(p); }
  static void OutOfMemory() { ++out_of_memory; }
};

class RuntimeAllocation : public ::testing::Test {
 protected:
  void SetUp() override { FakeHeap::Reset(); }
};

TEST_F(RuntimeAllocation, AZeroByteRequestStillGetsABlockOfItsOwn) {
  EXPECT_EQ(zynrt::Allocate<FakeHeap>(0), FakeHeap::block);
  EXPECT_EQ(zynrt::AllocateOrNull<FakeHeap>(0), FakeHeap::block);
  EXPECT_EQ(zynrt::Allocate<FakeHeap>(261), FakeHeap::block);
  EXPECT_EQ(FakeHeap::requests, (std::vector<std::size_t>{1, 1, 261}));
}

TEST_F(RuntimeAllocation, OnlyTheOrdinaryFormEndsTheProgramWhenTheHeapIsFull) {
  FakeHeap::full = true;
  EXPECT_EQ(zynrt::AllocateOrNull<FakeHeap>(8), nullptr);
  EXPECT_EQ(FakeHeap::out_of_memory, 0);
  zynrt::Allocate<FakeHeap>(8);
  EXPECT_EQ(FakeHeap::out_of_memory, 1);
  FakeHeap::full = false;
  zynrt::Allocate<FakeHeap>(8);
  EXPECT_EQ(FakeHeap::out_of_memory, 1);
}

TEST_F(RuntimeAllocation, DeletingNullNeverReachesTheHeap) {
  zynrt::Release<FakeHeap>(nullptr);
  EXPECT_TRUE(FakeHeap::freed.empty());
  zynrt::Release<FakeHeap>(FakeHeap::block);
  EXPECT_EQ(FakeHeap::freed, (std::vector<void*>{FakeHeap::block}));
}

}  // namespace
