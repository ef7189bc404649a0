#include "app/program_name.h"

#include <gtest/gtest.h>

#include <string>

namespace {

bool SingleByte(unsigned char) {
  return false;
}
// Lead bytes of code page 932, where a trail byte may be 0x5C ("\") or 0x2E is never one.
bool ShiftJisLead(unsigned char b) {
  return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

struct NameCase {
  const char* what;
  std::string path;
  LeadBytePredicate lead;
  std::string name;
};

// Shift JIS: "表" is 95 5C, "ソ" is 83 5C, "能" is 94 5C, "示" is 8E A6.
const NameCase kCases[] = {
    {"plain path", "C:\\Program Files\\ZYN\\zynid.exe", SingleByte, "zynid"},
    {"no directory", "zynid.exe", SingleByte, "zynid"},
    {"no extension", "C:\\ZYN\\zynid", SingleByte, "zynid"},
    {"last dot only", "C:\\ZYN\\zyn.id.exe", SingleByte, "zyn.id"},
    {"dot in a directory", "C:\\ZYN.1\\zynid", SingleByte, "zynid"},
    {"slash and drive", "C:zynid.exe", SingleByte, "zynid"},
    {"forward slash", "C:/ZYN/zynid.exe", SingleByte, "zynid"},
    {"file name ending in trail byte 0x5C", "C:\\ZYN\\\x95\x5C.exe", ShiftJisLead, "\x95\x5C"},
    {"file name of trail bytes 0x5C", "C:\\\x83\x5C\x94\x5C\\\x95\x5C\x8E\xA6\x83\x5C.exe",
     ShiftJisLead, "\x95\x5C\x8E\xA6\x83\x5C"},
    {"directory ending in trail byte 0x5C", "C:\\\x83\x5C\\zynid.exe", ShiftJisLead, "zynid"},
    {"without the rule the trail byte cuts", "C:\\ZYN\\\x95\x5C\x8E\xA6.exe", SingleByte,
     "\x8E\xA6"},
    {"lead byte at the very end", "C:\\ZYN\\zynid\x95", ShiftJisLead, "zynid\x95"},
    {"empty path", "", ShiftJisLead, ""},
    {"path ends in a separator", "C:\\ZYN\\", SingleByte, ""},
};

TEST(ProgramNameTest, CutsAtTheLastSeparatorCharacter) {
  for (const NameCase& c : kCases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(ProgramNameFromPath(c.path.c_str(), c.lead), c.name);
  }
}

}  // namespace
