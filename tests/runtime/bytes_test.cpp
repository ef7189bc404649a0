#include "runtime/bytes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace {

int Sign(int value) {
  return (value > 0) - (value < 0);
}

// Every placement and overlap in a small buffer, against the C library's answer, so that a byte
// written out of place or read after it was overwritten shows.
TEST(RuntimeBytes, CopyMoveAndFillMatchTheCLibrary) {
  auto pattern = [](unsigned char(&b)[40]) {
    for (std::size_t i = 0; i < sizeof b; ++i)
      b[i] = static_cast<unsigned char>(0xA0 + i);
  };
  for (std::size_t from = 0; from < 12; ++from) {
    for (std::size_t to = 0; to < 12; ++to) {
      for (std::size_t count = 0; count <= 20; ++count) {
        unsigned char ours[40], theirs[40], source[40];
        pattern(ours), pattern(theirs), pattern(source);
        EXPECT_EQ(zynrt::MoveBytes(ours + to, ours + from, count), ours + to);
        std::memmove(theirs + to, theirs + from, count);
        ASSERT_EQ(0, std::memcmp(ours, theirs, sizeof ours)) << from << ' ' << to << ' ' << count;

        pattern(ours), pattern(theirs);
        source[from] = 0x11;
        EXPECT_EQ(zynrt::CopyBytes(ours + to, source + from, count), ours + to);
        std::memcpy(theirs + to, source + from, count);
        ASSERT_EQ(0, std::memcmp(ours, theirs, sizeof ours)) << from << ' ' << to << ' ' << count;

        // The fill value's low eight bits only.
        EXPECT_EQ(zynrt::FillBytes(ours + to, 0x100 + static_cast<int>(from), count), ours + to);
        std::memset(theirs + to, static_cast<int>(from), count);
        ASSERT_EQ(0, std::memcmp(ours, theirs, sizeof ours)) << from << ' ' << to << ' ' << count;
      }
    }
  }
}

TEST(RuntimeBytes, CompareIsUnsignedAndLooksNoFurtherThanTheCount) {
  EXPECT_EQ(0, zynrt::CompareBytes("abcX", "abcY", 3));
  EXPECT_EQ(0, zynrt::CompareBytes("a", "b", 0));
  EXPECT_LT(zynrt::CompareBytes("abcX", "abcY", 4), 0);
  EXPECT_GT(zynrt::CompareBytes("abcY", "abcX", 4), 0);
  EXPECT_GT(zynrt::CompareBytes("\x80", "\x7F", 1), 0);  // signed, it would be below
  EXPECT_LT(zynrt::CompareBytes("\x01\xFF", "\x02\x00", 2), 0);
}

TEST(RuntimeBytes, FindAnswersTheFirstMatchWithinTheCount) {
  const char text[] = "abcabc\xE0";
  EXPECT_EQ(zynrt::FindByte(text, 'c', 6), text + 2);
  EXPECT_EQ(zynrt::FindByte(text, 'c', 2), nullptr);
  EXPECT_EQ(zynrt::FindByte(text, 'x', 6), nullptr);
  EXPECT_EQ(zynrt::FindByte(text, 'a', 0), nullptr);
  EXPECT_EQ(zynrt::FindByte(text, '\0', sizeof text), text + 7);
  // Like memchr, the value is taken as an unsigned char.
  EXPECT_EQ(zynrt::FindByte(text, 0x100 + 'b', 6), text + 1);
  EXPECT_EQ(zynrt::FindByte(text, -32, 7), text + 6);
}

TEST(RuntimeBytes, TextLengthAndComparison) {
  EXPECT_EQ(zynrt::TextLength(""), 0u);
  EXPECT_EQ(zynrt::TextLength("\\\\.\\ZYNDRV"), 10u);
  EXPECT_EQ(zynrt::TextLength("\x82\xA0\x5C"), 3u);

  const char* const texts[] = {"", "a", "ab", "abc", "abd", "b", "\x7F", "\x80", "\xFF"};
  for (const char* first : texts) {
    for (const char* second : texts) {
      // strcmp's sign, the bytes taken as unsigned chars.
      const std::string a(first), b(second);
      const int expected = Sign(std::memcmp(first, second, std::min(a.size(), b.size()) + 1));
      EXPECT_EQ(Sign(zynrt::CompareText(first, second)), expected) << a << " / " << b;
    }
  }
}

}  // namespace
