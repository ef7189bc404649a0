// The stand-ins' configuration file: what it accepts, and that every mistake names its line and
// leaves nothing half-applied.
#include "standin/core/config.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using standin::Config;
using standin::ConfigError;
using standin::ConfigProblem;
using standin::FailMode;

bool Parse(const std::string& text, Config& config, ConfigError& error) {
  return standin::ParseConfig(text.data(), text.size(), config, error);
}

struct Accepted {
  const char* name;
  std::string text;
  std::string table;
  uint32_t offset;
  uint16_t probe;
  FailMode fail;
};

TEST(StandinConfig, AcceptsTheDocumentedForms) {
  const Accepted cases[] = {
      {"empty file", "", "", 0, 0x0101, FailMode::kNone},
      {"comments and blank lines", "# nothing set\n\n  \t \n   # indented\n", "", 0, 0x0101,
       FailMode::kNone},
      {"CRLF lines", "table = a.bin\r\noffset = 4000\r\nprobe = 0x0100\r\nfail = release\r\n",
       "a.bin", 4000, 0x0100, FailMode::kRelease},
      {"byte order mark, no spaces, no final newline", "\xEF\xBB\xBFprobe=257", "", 0, 257,
       FailMode::kNone},
      {"tabs and a comment after the value", "\toffset\t=\t4095  # last byte\n", "", 4095, 0x0101,
       FailMode::kNone},
      {"upper-case hex", "probe = 0XfFfF", "", 0, 0xFFFF, FailMode::kNone},
      {"leading zeros are decimal", "offset = 010\nprobe = 0", "", 10, 0, FailMode::kNone},
      {"fail probe", "fail = probe", "", 0, 0x0101, FailMode::kProbe},
      {"fail table", "fail=table", "", 0, 0x0101, FailMode::kTable},
      {"fail none", "fail = none", "", 0, 0x0101, FailMode::kNone},
      {"inner spaces of a path kept", "table =  my tables\\board one.bin  \n",
       "my tables\\board one.bin", 0, 0x0101, FailMode::kNone},
      {"absolute path", "table = C:\\zyn\\w510.bin", "C:\\zyn\\w510.bin", 0, 0x0101,
       FailMode::kNone},
  };
  for (const Accepted& c : cases) {
    SCOPED_TRACE(c.name);
    Config config;
    ConfigError error;
    ASSERT_TRUE(Parse(c.text, config, error)) << standin::DescribeConfigProblem(error.problem);
    EXPECT_EQ(config.table, c.table);
    EXPECT_EQ(config.offset, c.offset);
    EXPECT_EQ(config.probe, c.probe);
    EXPECT_EQ(config.fail, c.fail);
  }
}

TEST(StandinConfig, RemembersTheLineThatNamedTheTable) {
  Config config;
  ConfigError error;
  ASSERT_TRUE(Parse("# header\n\nprobe = 1\ntable = x.bin\n", config, error));
  EXPECT_EQ(config.table_line, 4u);
}

struct Rejected {
  const char* name;
  std::string text;
  uint32_t line;
  ConfigProblem problem;
  std::string detail;
};

TEST(StandinConfig, RefusesMistakesNamingTheLine) {
  const std::string long_path(standin::kMaxPath, 'p');
  const Rejected cases[] = {
      {"misspelt key", "tabel = x.bin", 1, ConfigProblem::kUnknownKey, "tabel"},
      {"key in upper case", "\nOFFSET = 1", 2, ConfigProblem::kUnknownKey, "OFFSET"},
      {"no key", "probe = 1\n= 5", 2, ConfigProblem::kUnknownKey, ""},
      {"no equals sign", "# c\njust words\n", 2, ConfigProblem::kNoEquals, "just words"},
      {"letters after digits", "\n# c\noffset = 12a\n", 3, ConfigProblem::kBadNumber, "12a"},
      {"negative", "offset = -1", 1, ConfigProblem::kBadNumber, "-1"},
      {"plus sign", "offset = +1", 1, ConfigProblem::kBadNumber, "+1"},
      {"bare 0x", "probe = 0x", 1, ConfigProblem::kBadNumber, "0x"},
      {"two numbers", "probe = 1 2", 1, ConfigProblem::kBadNumber, "1 2"},
      {"past 32 bits", "probe = 4294967296", 1, ConfigProblem::kBadNumber, "4294967296"},
      {"hex past 32 bits", "offset = 0x100000000", 1, ConfigProblem::kBadNumber, "0x100000000"},
      {"offset of the next page", "offset = 4096", 1, ConfigProblem::kOffsetRange, "4096"},
      {"offset in hex past the page", "offset = 0x1000", 1, ConfigProblem::kOffsetRange, "0x1000"},
      {"probe past 16 bits", "probe = 0x10000", 1, ConfigProblem::kProbeRange, "0x10000"},
      {"probe past 16 bits, decimal", "probe = 65536", 1, ConfigProblem::kProbeRange, "65536"},
      {"unknown fail mode", "fail = yes", 1, ConfigProblem::kBadFailMode, "yes"},
      {"fail mode in upper case", "fail = Probe", 1, ConfigProblem::kBadFailMode, "Probe"},
      {"key given twice", "probe = 1\r\nprobe = 2\r\n", 2, ConfigProblem::kRepeatedKey, "probe"},
      {"empty value", "offset = 1\ntable =   # none\n", 2, ConfigProblem::kEmptyValue, "table"},
      {"path too long", "table = " + long_path, 1, ConfigProblem::kPathTooLong,
       long_path.substr(0, 39)},
      {"lone carriage return", "probe = 1\r\r\n", 1, ConfigProblem::kControlCharacter, ""},
      {"NUL inside a value", std::string("probe = 1\ntable = a\0b\n", 22), 2,
       ConfigProblem::kControlCharacter, ""},
  };
  for (const Rejected& c : cases) {
    SCOPED_TRACE(c.name);
    Config config;
    ConfigError error;
    ASSERT_FALSE(Parse(c.text, config, error));
    EXPECT_EQ(error.line, c.line);
    EXPECT_EQ(error.problem, c.problem) << standin::DescribeConfigProblem(error.problem);
    EXPECT_EQ(error.detail, c.detail);
  }
}

TEST(StandinConfig, LongestPathThatFitsIsKept) {
  const std::string path(standin::kMaxPath - 1, 'p');
  Config config;
  ConfigError error;
  ASSERT_TRUE(Parse("table = " + path, config, error));
  EXPECT_EQ(config.table, path);
}

TEST(StandinConfig, AFailedParseAppliesNothing) {
  Config config;
  config.offset = 7;
  config.probe = 0x1234;
  ConfigError error;
  ASSERT_FALSE(Parse("offset = 4095\nfail = table\ntable = x.bin\nbogus = 1\n", config, error));
  EXPECT_EQ(error.line, 4u);
  EXPECT_EQ(config.offset, 7u);
  EXPECT_EQ(config.probe, 0x1234);
  EXPECT_EQ(config.fail, FailMode::kNone);
  EXPECT_STREQ(config.table, "");
}

TEST(StandinConfig, MessageNamesFileLineAndWhat) {
  Config config;
  ConfigError error;
  ASSERT_FALSE(Parse("probe = 1\n\noffset = 12a\n", config, error));
  char message[120];
  EXPECT_TRUE(standin::FormatConfigError(message, sizeof message, "zyndrv.cfg", error));
  EXPECT_STREQ(message, "zyndrv.cfg line 3: not a decimal or 0x hexadecimal number \"12a\"");
}

TEST(StandinConfig, MessageIsCutToItsBuffer) {
  char message[16];
  std::fill(std::begin(message), std::end(message), 'X');
  EXPECT_FALSE(standin::FormatLineMessage(message, 12, "zyndrv.cfg", 12345, "unknown key", "k"));
  EXPECT_STREQ(message, "zyndrv.cfg ");
  EXPECT_EQ(message[12], 'X');  // nothing past the size it was given
}

}  // namespace
