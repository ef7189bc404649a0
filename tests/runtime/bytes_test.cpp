#include "runtime/bytes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace {

using zynrt::CompareBytes;
using zynrt::CompareText;
using zynrt::CopyBytes;
using zynrt::FillBytes;
using zynrt::FindByte;
using zynrt::MoveBytes;
using zynrt::TextLength;

int Sign(int value) {
  return (value > 0) - (value < 0);
}

// A buffer with a recognisable byte at every position, so that any byte written where it should
// not be shows.
struct Pattern {
  unsigned char bytes[48];
  Pattern() {
    for (std::size_t i = 0; i < sizeof bytes; ++i)
      bytes[i] = static_cast<unsigned char>(0xA0 + i);
  }
};

TEST(RuntimeBytes, CopyWritesExactlyTheCountAndAnswersTheDestination) {
  Pattern to;
  const unsigned char from[] = {1, 2, 3, 4, 5};
  EXPECT_EQ(CopyBytes(to.bytes + 8, from, 5), to.bytes + 8);
  Pattern expected;
  std::memcpy(expected.bytes + 8, from, 5);
  EXPECT_EQ(0, std::memcmp(to.bytes, expected.bytes, sizeof to.bytes));
  EXPECT_EQ(CopyBytes(to.bytes, from, 0), to.bytes);
  EXPECT_EQ(0, std::memcmp(to.bytes, expected.bytes, sizeof to.bytes));
}

// Every overlap, in both directions, against the C library's answer.
TEST(RuntimeBytes, MoveMatchesTheCLibraryForEveryOverlap) {
  for (std::size_t from = 0; from < 16; ++from) {
    for (std::size_t to = 0; to < 16; ++to) {
      for (std::size_t count = 0; count <= 24; ++count) {
        Pattern ours, theirs;
        EXPECT_EQ(MoveBytes(ours.bytes + to, ours.bytes + from, count), ours.bytes + to);
        std::memmove(theirs.bytes + to, theirs.bytes + from, count);
        ASSERT_EQ(0, std::memcmp(ours.bytes, theirs.bytes, sizeof ours.bytes))
            << "from " << from << " to " << to << " count " << count;
      }
    }
  }
}

TEST(RuntimeBytes, FillTakesTheLowEightBitsAndStopsAtTheCount) {
  Pattern to;
  EXPECT_EQ(FillBytes(to.bytes + 3, 0x1FF, 4), to.bytes + 3);
  Pattern expected;
  std::memset(expected.bytes + 3, 0xFF, 4);
  EXPECT_EQ(0, std::memcmp(to.bytes, expected.bytes, sizeof to.bytes));
}

TEST(RuntimeBytes, CompareIsUnsignedAndLooksNoFurtherThanTheCount) {
  EXPECT_EQ(0, CompareBytes("abcX", "abcY", 3));
  EXPECT_EQ(0, CompareBytes("a", "b", 0));
  EXPECT_LT(CompareBytes("abcX", "abcY", 4), 0);
  EXPECT_GT(CompareBytes("abcY", "abcX", 4), 0);
  // 0x80 is above 0x7F: a signed comparison would answer the other way.
  EXPECT_GT(CompareBytes("\x80", "\x7F", 1), 0);
  // The first difference decides, not the largest.
  EXPECT_LT(CompareBytes("\x01\xFF", "\x02\x00", 2), 0);
}

TEST(RuntimeBytes, FindAnswersTheFirstMatchWithinTheCount) {
  const char text[] = "abcabc";
  EXPECT_EQ(FindByte(text, 'c', 6), text + 2);
  EXPECT_EQ(FindByte(text, 'c', 2), nullptr);
  EXPECT_EQ(FindByte(text, 'x', 6), nullptr);
  EXPECT_EQ(FindByte(text, '\0', sizeof text), text + 6);
  EXPECT_EQ(FindByte(text, 'a', 0), nullptr);
  // Like memchr, the value is taken as an unsigned char.
  EXPECT_EQ(FindByte(text, 0x100 + 'b', 6), text + 1);
  const unsigned char high[] = {0x10, 0xE0, 0x20};
  EXPECT_EQ(FindByte(high, 0xE0, 3), high + 1);
  EXPECT_EQ(FindByte(high, -32, 3), high + 1);  // -32 is 0xE0 as an unsigned char
}

TEST(RuntimeBytes, TextLengthAndComparison) {
  EXPECT_EQ(TextLength(""), 0u);
  EXPECT_EQ(TextLength("\\\\.\\ZYNDRV"), 10u);
  EXPECT_EQ(TextLength("\x82\xA0\x5C"), 3u);

  const char* const texts[] = {"", "a", "ab", "abc", "abd", "b", "\x7F", "\x80", "\xFF"};
  for (const char* first : texts) {
    for (const char* second : texts) {
      // strcmp's sign with the bytes as unsigned chars, as the C library defines it.
      const std::string a(first), b(second);
      const int expected =
          Sign(std::memcmp(a.c_str(), b.c_str(), std::min(a.size(), b.size()) + 1));
      EXPECT_EQ(Sign(CompareText(first, second)), expected) << '"' << a << "\" \"" << b << '"';
    }
  }
}

}  // namespace
