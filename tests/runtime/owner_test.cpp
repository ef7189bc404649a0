#include "runtime/owner.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// A kind with two values that are no handle, released through a log it carries, as the seams do.
struct LoggedKind {
  using Handle = int;
  static int Empty() { return 0; }
  static bool Holds(int h) { return h != 0 && h != -1; }
  void Release(int h) const { log->push_back(h); }
  std::vector<int>* log = nullptr;
};
using Owned = zynrt::Owner<LoggedKind>;

TEST(Owner, ReleasesEachHandleOnceAndNeverANonHandle) {
  std::vector<int> log;
  {
    Owned a(LoggedKind{&log});
    *a.receive() = 7;
    *a.receive() = -1;  // a failed call that wrote its invalid value: nothing to release
    EXPECT_FALSE(a.holds());
    *a.receive() = 8;
    Owned b(std::move(a));
    EXPECT_FALSE(a.holds());
    Owned c(5, LoggedKind{&log});
    c = std::move(b);  // 5 goes now, 8 with c
    Owned d(9, LoggedKind{&log});
    EXPECT_EQ(d.Release(), 9);  // handed over: never released here
  }
  EXPECT_EQ(log, (std::vector<int>{7, 5, 8}));
}

}  // namespace
