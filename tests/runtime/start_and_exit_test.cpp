#include "runtime/start_and_exit.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

using zynrt::ExitHandlers;
using zynrt::Function;

TEST(RuntimeCommandLine, WinMainGetsWhatFollowsTheProgramName) {
  const struct {
    const char* command_line;
    const char* arguments;
  } cases[] = {
      {"zynid.exe", ""},
      {"", ""},
      {"zynid.exe \t  /a b  ", "/a b  "},
      {"\"C:\\Program Files\\ZYN\\zynid.exe\" C:\\ZYN\\Eng\\ZYNRes.lrc",
       "C:\\ZYN\\Eng\\ZYNRes.lrc"},
      // A quote inside the name only switches quoting; an unterminated one keeps the rest.
      {"C:\\a\" b\"\\x.exe c", "c"},
      {"\"C:\\a b\\x.exe c", ""},
      // Bytes of the ANSI code page belong to the name; none of them ends it.
      {"C:\\\xC3\x9C\\\x83\x5C.exe arg", "arg"},
  };
  for (const auto& c : cases) {
    const char* arguments = zynrt::SkipProgramName(c.command_line);
    // A pointer into the command line itself, as WinMain has always been given.
    EXPECT_EQ(arguments,
              c.command_line + std::string(c.command_line).size() - std::string(c.arguments).size())
        << c.command_line;
  }
}

std::vector<int> g_calls;
ExitHandlers* g_running = nullptr;

template <int N>
void Record() {
  g_calls.push_back(N);
}

void RegisterAnother() {
  g_calls.push_back(10);
  g_running->Add(Record<11>);
}

Function Marker(std::intptr_t value) {
  return reinterpret_cast<Function>(value);
}

class RuntimeLists : public ::testing::Test {
 protected:
  void SetUp() override { g_calls.clear(); }
};

TEST_F(RuntimeLists, ConstructorsRunLastToFirstDestructorsFirstToLast) {
  const Function list[] = {Marker(-1), Record<1>, Record<2>, Record<3>, nullptr, Record<9>};
  zynrt::RunConstructorList(list);
  zynrt::RunDestructorList(list);
  EXPECT_EQ(g_calls, (std::vector<int>{3, 2, 1, 1, 2, 3}));
}

TEST_F(RuntimeLists, ACountedConstructorListRunsThatManyEntries) {
  const Function counted[] = {Marker(2), Record<1>, Record<2>, Record<3>, nullptr};
  zynrt::RunConstructorList(counted);
  const Function none[] = {Marker(0), Record<1>, nullptr};
  zynrt::RunConstructorList(none);
  EXPECT_EQ(g_calls, (std::vector<int>{2, 1}));
}

TEST_F(RuntimeLists, ExitHandlersRunLastRegisteredFirstAndOnce) {
  ExitHandlers handlers;
  g_running = &handlers;
  EXPECT_TRUE(handlers.Add(Record<1>));
  EXPECT_TRUE(handlers.Add(RegisterAnother));  // its addition runs before the earlier handler
  EXPECT_TRUE(handlers.Add(Record<3>));
  handlers.RunAll();
  handlers.RunAll();
  EXPECT_EQ(g_calls, (std::vector<int>{3, 10, 11, 1}));
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
