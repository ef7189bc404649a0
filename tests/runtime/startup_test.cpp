#include "runtime/startup.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

using zynrt::ExitHandlers;
using zynrt::Function;
using zynrt::RunConstructorList;
using zynrt::RunDestructorList;
using zynrt::SkipProgramName;

// ---- SkipProgramName ---------------------------------------------------------------------------

TEST(RuntimeCommandLine, WinMainGetsWhatFollowsTheProgramName) {
  const struct {
    const char* command_line;
    const char* arguments;
  } cases[] = {
      {"zynid.exe", ""},
      {"", ""},
      {"zynid.exe /a b", "/a b"},
      {"zynid.exe \t  arg", "arg"},
      {"zynid.exe arg  ", "arg  "},
      {"\"C:\\Program Files\\ZYN\\zynid.exe\" C:\\ZYN\\Eng\\ZYNRes.lrc",
       "C:\\ZYN\\Eng\\ZYNRes.lrc"},
      {"\"C:\\Program Files\\ZYN\\zynid.exe\"", ""},
      // A quote inside the name only switches quoting: the name ends at the next unquoted space.
      {"C:\\a\" b\"\\x.exe c", "c"},
      // An unterminated quote keeps the rest as the name.
      {"\"C:\\a b\\x.exe c", ""},
      // Bytes of the ANSI code page belong to the name; none of them ends it.
      {"C:\\\xC3\x9C\\\x83\x5C.exe arg", "arg"},
      {"x.exe\n\rarg", "arg"},
  };
  for (const auto& c : cases) {
    const char* arguments = SkipProgramName(c.command_line);
    EXPECT_EQ(std::string(arguments), c.arguments) << c.command_line;
    // A pointer into the command line itself, as the platform's WinMain callers pass it.
    const std::string whole(c.command_line);
    EXPECT_EQ(arguments, c.command_line + whole.size() - std::string(c.arguments).size());
  }
}

// ---- Constructor and destructor lists ----------------------------------------------------------

std::vector<int> g_calls;

template <int N>
void Record() {
  g_calls.push_back(N);
}

Function Marker(std::intptr_t value) {
  return reinterpret_cast<Function>(value);
}

class RuntimeLists : public ::testing::Test {
 protected:
  void SetUp() override { g_calls.clear(); }
};

TEST_F(RuntimeLists, ConstructorsRunLastToFirstUpToTheNullEntry) {
  const Function list[] = {Marker(-1), Record<1>, Record<2>, Record<3>, nullptr, Record<9>};
  RunConstructorList(list);
  EXPECT_EQ(g_calls, (std::vector<int>{3, 2, 1}));
}

TEST_F(RuntimeLists, ACountedConstructorListRunsThatManyEntries) {
  const Function list[] = {Marker(2), Record<1>, Record<2>, Record<3>, nullptr};
  RunConstructorList(list);
  EXPECT_EQ(g_calls, (std::vector<int>{2, 1}));
}

TEST_F(RuntimeLists, EmptyListsRunNothing) {
  const Function list[] = {Marker(-1), nullptr};
  RunConstructorList(list);
  RunDestructorList(list);
  const Function counted[] = {Marker(0), Record<1>, nullptr};
  RunConstructorList(counted);
  EXPECT_TRUE(g_calls.empty());
}

TEST_F(RuntimeLists, DestructorsRunFirstToLastUpToTheNullEntry) {
  const Function list[] = {Marker(-1), Record<1>, Record<2>, Record<3>, nullptr, Record<9>};
  RunDestructorList(list);
  EXPECT_EQ(g_calls, (std::vector<int>{1, 2, 3}));
}

// ---- ExitHandlers ------------------------------------------------------------------------------

ExitHandlers* g_running = nullptr;

void RegisterAnother() {
  g_calls.push_back(10);
  g_running->Add(Record<11>);
}

TEST_F(RuntimeLists, ExitHandlersRunLastRegisteredFirstAndOnce) {
  ExitHandlers handlers;
  EXPECT_TRUE(handlers.Add(Record<1>));
  EXPECT_TRUE(handlers.Add(Record<2>));
  EXPECT_TRUE(handlers.Add(Record<3>));
  handlers.RunAll();
  EXPECT_EQ(g_calls, (std::vector<int>{3, 2, 1}));
  EXPECT_EQ(handlers.count(), 0u);
  handlers.RunAll();
  EXPECT_EQ(g_calls.size(), 3u);
}

TEST_F(RuntimeLists, AHandlerRegisteredWhileRunningRunsBeforeTheEarlierOnes) {
  ExitHandlers handlers;
  g_running = &handlers;
  handlers.Add(Record<1>);
  handlers.Add(RegisterAnother);
  handlers.RunAll();
  EXPECT_EQ(g_calls, (std::vector<int>{10, 11, 1}));
}

TEST_F(RuntimeLists, AFullTableAndANullHandlerAreRefused) {
  ExitHandlers handlers;
  EXPECT_FALSE(handlers.Add(nullptr));
  for (std::size_t i = 0; i < ExitHandlers::kCapacity; ++i)
    ASSERT_TRUE(handlers.Add(Record<1>)) << i;
  EXPECT_FALSE(handlers.Add(Record<2>));
  handlers.RunAll();
  EXPECT_EQ(g_calls, std::vector<int>(ExitHandlers::kCapacity, 1));
}

}  // namespace
