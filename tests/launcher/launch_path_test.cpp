#include "launcher/launch_path.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

using cdlaunch::CompleteSetupPath;
using cdlaunch::kTextBufferChars;
using cdlaunch::ShownPath;

bool SingleByte(unsigned char) {
  return false;
}
// Lead bytes of a double-byte code page such as 932, where a trail byte may be 0x5C.
bool ShiftJisLead(unsigned char b) {
  return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

constexpr char kGuard = '\x7E';

// A 256-character path buffer with guard bytes on both sides, filled as GetCurrentDirectoryA
// would: the directory when it fits (answering its length), untouched when it does not
// (answering the size it needed), and garbage without a NUL when the call failed.
struct PathBuffer {
  char before[16];
  char path[kTextBufferChars];
  char after[16];

  explicit PathBuffer(const std::string& directory) {
    std::memset(this, kGuard, sizeof *this);
    if (directory.size() < kTextBufferChars) {
      std::memcpy(path, directory.c_str(), directory.size() + 1);
      answer = directory.size();
    } else {
      answer = directory.size() + 1;
    }
  }
  bool Complete(cdlaunch::LeadBytePredicate lead = SingleByte) {
    return CompleteSetupPath(path, kTextBufferChars, answer, lead);
  }
  bool GuardsIntact() const {
    for (char c : before)
      if (c != kGuard)
        return false;
    for (char c : after)
      if (c != kGuard)
        return false;
    return true;
  }
  unsigned long answer;
};

struct PathCase {
  const char* name;
  std::string directory;
  bool launched;
  std::string path;
};

TEST(CompleteSetupPath, ComposesOrFallsBackToTheBareName) {
  const std::string deep = "D:\\" + std::string(243, 'a');  // 246 + "\setup.exe" = 256: too long
  const std::string fits = "D:\\" + std::string(242, 'a');  // 245 + 10 = 255 characters
  const PathCase cases[] = {
      {"drive root", "D:\\", true, "D:\\setup.exe"},
      {"folder", "D:\\PROD", true, "D:\\PROD\\setup.exe"},
      {"folder ending in a backslash", "C:\\cd\\", true, "C:\\cd\\setup.exe"},
      {"network share", "\\\\server\\cd", true, "\\\\server\\cd\\setup.exe"},
      {"longest that fits", fits, true, fits + "\\setup.exe"},
      {"one character too long", deep, false, "setup.exe"},
      {"directory longer than the buffer", std::string(300, 'x'), false, "setup.exe"},
      {"directory exactly 255 characters", std::string(255, 'y'), false, "setup.exe"},
  };
  for (const auto& c : cases) {
    PathBuffer b(c.directory);
    EXPECT_EQ(b.Complete(), c.launched) << c.name;
    EXPECT_EQ(std::string(b.path), c.path) << c.name;
    EXPECT_TRUE(b.GuardsIntact()) << c.name;
  }
}

TEST(CompleteSetupPath, UnreadableDirectoryNeverReadsTheGarbage) {
  PathBuffer b("");
  std::memset(b.path, 'z', sizeof b.path);  // no NUL anywhere
  b.answer = 0;                             // GetCurrentDirectoryA failed
  EXPECT_FALSE(b.Complete());
  EXPECT_STREQ(b.path, "setup.exe");
  EXPECT_TRUE(b.GuardsIntact());
}

TEST(CompleteSetupPath, TooSmallAnswerNeverUsesWhatTheBufferHolds) {
  // The directory did not fit, so the call left the buffer as it was: here an older, shorter
  // text. An answer of the buffer's size or more means nothing was written.
  for (unsigned long answer : {static_cast<unsigned long>(kTextBufferChars), 400ul}) {
    PathBuffer b("C:\\old");
    b.answer = answer;
    EXPECT_FALSE(b.Complete()) << answer;
    EXPECT_STREQ(b.path, "setup.exe") << answer;
  }
}

TEST(CompleteSetupPath, AnsweredLengthBeyondTheTextIsNotTrusted) {
  PathBuffer b("C:\\cd");
  b.answer = 200;  // longer than the text really is
  EXPECT_TRUE(b.Complete());
  EXPECT_STREQ(b.path, "C:\\cd\\setup.exe");
}

TEST(CompleteSetupPath, DoubleByteTrailBackslashIsNotASeparator) {
  // "C:\" followed by one double-byte character whose second byte is 0x5C.
  const std::string directory = "C:\\\x95\x5C";
  PathBuffer dbcs(directory);
  EXPECT_TRUE(dbcs.Complete(ShiftJisLead));
  EXPECT_EQ(std::string(dbcs.path), directory + "\\setup.exe");

  PathBuffer ansi(directory);  // the same bytes in a single-byte code page end in a backslash
  EXPECT_TRUE(ansi.Complete(SingleByte));
  EXPECT_EQ(std::string(ansi.path), directory + "setup.exe");
}

std::string Message(const char* shown) {
  char out[1024];
  std::snprintf(out, sizeof out, cdlaunch::kFailureFormat, shown);
  return out;
}

TEST(ShownPath, EveryPathLengthGivesAMessageThatFits) {
  for (unsigned length = 9; length < kTextBufferChars; ++length) {
    std::string path = std::string(length - 9, 'p') + "setup.exe";
    char scratch[kTextBufferChars + 16];
    std::memset(scratch, kGuard, sizeof scratch);
    const char* shown = ShownPath(path.c_str(), scratch, kTextBufferChars, SingleByte);
    std::string message = Message(shown);
    EXPECT_LT(message.size(), kTextBufferChars) << length;
    EXPECT_EQ(scratch[kTextBufferChars], kGuard) << length;
    std::string s = shown;
    ASSERT_GE(s.size(), 9u);
    EXPECT_EQ(s.substr(s.size() - 9), "setup.exe") << length;
    // Cut only when the whole path does not fit.
    EXPECT_EQ(s == path, Message(path.c_str()).size() < kTextBufferChars) << length;
    if (s != path) {
      EXPECT_EQ(s.substr(0, 3), "...") << length;
      EXPECT_EQ(message.size(), kTextBufferChars - 1) << "uses all the room: " << length;
    }
  }
}

TEST(ShownPath, ShortPathIsShownWhole) {
  char scratch[kTextBufferChars];
  const char path[] = "D:\\setup.exe";
  EXPECT_EQ(ShownPath(path, scratch, kTextBufferChars, SingleByte), path);
  EXPECT_EQ(Message(path),
            "Unable to launch Tessarine Setup\nD:\\setup.exe\nMake sure correct CD is inserted.");
}

TEST(ShownPath, CutNeverSplitsADoubleByteCharacter) {
  // Double-byte characters all the way: the cut must land on a lead byte.
  std::string path = "C:\\";
  while (path.size() < 240)
    path += "\x95\x5C";
  path += "\\setup.exe";
  for (int shift = 0; shift < 2; ++shift) {
    std::string p = shift ? "C:\\x" + path.substr(3) : path;
    char scratch[kTextBufferChars];
    std::string shown = ShownPath(p.c_str(), scratch, kTextBufferChars, ShiftJisLead);
    ASSERT_EQ(shown.substr(0, 3), "...");
    EXPECT_EQ(static_cast<unsigned char>(shown[3]), 0x95) << shift;
    EXPECT_LT(Message(shown.c_str()).size(), kTextBufferChars);
  }
}

TEST(ShownPath, NeverReadsPastTheTextBuffer) {
  // A path that fills the whole buffer without a terminator: what follows is not the path's.
  char buffer[kTextBufferChars + 8] = {};
  std::memset(buffer, 'p', kTextBufferChars - 9);
  std::memcpy(buffer + kTextBufferChars - 9, "setup.exe", 9);
  std::memcpy(buffer + kTextBufferChars, "JUNK", 4);
  char scratch[kTextBufferChars];
  std::string shown = ShownPath(buffer, scratch, kTextBufferChars, SingleByte);
  EXPECT_EQ(shown.substr(shown.size() - 9), "setup.exe");
}

TEST(ShownPath, TinyMessageBufferGivesAnEmptyPath) {
  // The smallest buffer that shows anything has room for "..." and one character.
  const unsigned fixed = static_cast<unsigned>(std::strlen(cdlaunch::kFailureFormat)) - 2;
  char scratch[kTextBufferChars];
  EXPECT_STREQ(ShownPath("C:\\setup.exe", scratch, 8, SingleByte), "");
  EXPECT_STREQ(ShownPath("C:\\setup.exe", scratch, fixed + 4, SingleByte), "");
  EXPECT_STREQ(ShownPath("C:\\setup.exe", scratch, fixed + 5, SingleByte), "...e");
}

}  // namespace
