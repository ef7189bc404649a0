#include "app/language_library.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/app/fake_flow_ports.h"

namespace {

class LanguageTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetLanguageState(); }
  void TearDown() override { ResetLanguageState(); }
  FakeFlowPorts ports;
};

// The language table, driven from the locale text as the platform gives it.
struct LanguageCase {
  const char* locale;
  const char* subdirectory;
};

class LanguageTableTest : public LanguageTest,
                          public ::testing::WithParamInterface<LanguageCase> {};

TEST_P(LanguageTableTest, ChoosesSubdirectoryAndLibrary) {
  ports.locale_text = GetParam().locale;
  EXPECT_NE(LoadLanguageLibrary(ports), nullptr);
  EXPECT_STREQ(LanguageSubdirectory, GetParam().subdirectory);
  EXPECT_EQ(ports.calls.back(),
            std::string("LoadResourceLibrary C:\\ZYN") + GetParam().subdirectory + "\\ZYNRes.lrc");
}

INSTANTIATE_TEST_SUITE_P(
    Rows, LanguageTableTest,
    ::testing::Values(
        LanguageCase{"0409", "\\Eng"}, LanguageCase{"0419", "\\Eng"}, LanguageCase{"0809", "\\Eng"},
        LanguageCase{"0407", "\\Deu"}, LanguageCase{"0807", "\\Deu"}, LanguageCase{"040A", "\\Esn"},
        LanguageCase{"0c0a", "\\Esn"}, LanguageCase{"040C", "\\Fra"}, LanguageCase{"0410", "\\Ita"},
        LanguageCase{"0411", "\\Jpn"}, LanguageCase{"0412", "\\Kor"},
        // Chinese: only the whole identifier 0x0804 is simplified.
        LanguageCase{"0804", "\\Chs"}, LanguageCase{"0404", "\\Cht"}, LanguageCase{"0C04", "\\Cht"},
        LanguageCase{"1004", "\\Cht"}, LanguageCase{"1404", "\\Cht"},
        // Not a prefix: the parse stops at the 'x', so this is 0, not Japanese.
        LanguageCase{"0x11", "\\Eng"}));

// The locale text is hexadecimal after optional white space and a sign; the first character that
// is not a hexadecimal digit ends it, so a "0x" prefix is not a prefix.
struct ParseCase {
  const char* text;  // up to 5 characters; a 5-character text has no terminator
  std::uint32_t value;
};

class LanguageParseTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(LanguageParseTest, ParsesHexadecimal) {
  char text[5] = {};
  std::memcpy(text, GetParam().text, std::min<std::size_t>(std::strlen(GetParam().text), 5));
  EXPECT_EQ(ParseLanguageValue(text), GetParam().value) << '"' << GetParam().text << '"';
}

INSTANTIATE_TEST_SUITE_P(
    Texts, LanguageParseTest,
    ::testing::Values(ParseCase{"0409", 0x0409}, ParseCase{"0c0A", 0x0C0A},
                      ParseCase{" 0407", 0x0407}, ParseCase{"\t\n411", 0x0411},
                      ParseCase{"+0412", 0x0412}, ParseCase{"\v\f\r7", 0x7},
                      ParseCase{"00ff", 0xFF}, ParseCase{"0fG", 0xF},
                      // A minus sign negates in 32 bits: -0xF9 has the low byte 0x07.
                      ParseCase{"-0F9", 0xFFFFFF07u}, ParseCase{"-1", 0xFFFFFFFFu},
                      ParseCase{"407Z", 0x0407}, ParseCase{"04g7", 0x04}, ParseCase{"0x11", 0},
                      ParseCase{"0X7", 0}, ParseCase{"x11", 0}, ParseCase{"", 0},
                      ParseCase{"zzzz", 0}, ParseCase{"- 12", 0},
                      // White space to the fifth character and no terminator.
                      ParseCase{"     ", 0}));

TEST(LanguageParse, StopsAtFiveCharacters) {
  // All five characters used and no terminator, and a hexadecimal digit right behind them.
  struct Buffer {
    char text[5];
    char after[2];
  };
  const Buffer digits = {{'0', '4', '1', '1', '1'}, {'2', '\0'}};
  EXPECT_EQ(ParseLanguageValue(digits.text), 0x4111u);
  const Buffer spaced = {{' ', ' ', ' ', ' ', '7'}, {'1', '\0'}};
  EXPECT_EQ(ParseLanguageValue(spaced.text), 0x7u);
}

TEST_F(LanguageTest, FailedLocaleQueryMeansEnglish) {
  ports.locale_text.reset();  // the fake leaves "0411" in the buffer: it must not be used
  EXPECT_NE(LoadLanguageLibrary(ports), nullptr);
  EXPECT_STREQ(LanguageSubdirectory, "\\Eng");
}

TEST_F(LanguageTest, MissingInstallDirectoryLeavesSubdirectoryEmpty) {
  ports.target_dir.reset();
  EXPECT_EQ(LoadLanguageLibrary(ports), nullptr);
  EXPECT_STREQ(LanguageSubdirectory, "");
  EXPECT_EQ(ports.calls.back(), "ReadRegistryString Software\\Orvex\\ZYN ID Utility TargetDir 260");
}

TEST_F(LanguageTest, UnloadableLibraryStillChoosesSubdirectory) {
  ports.locale_text = "040C";
  ports.library_loads = false;
  EXPECT_EQ(LoadLanguageLibrary(ports), nullptr);
  EXPECT_STREQ(LanguageSubdirectory, "\\Fra");
}

}  // namespace
