// The real-table corpus: tables captured from real machines, kept outside the repository
// (../shared/smbios-corpus beside the checkout, or wherever ZYN_CORPUS_DIR names at run time).
// A user's clone may not have it: the tests that read it then skip and say why. CI sets
// ZYN_REQUIRE_CORPUS, and there a missing or unreadable corpus fails those tests instead, so a
// moved folder cannot switch the differential checks off unnoticed.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>

namespace zyntest {

// The folder: the environment's choice, else the one the build was configured with.
inline std::string CorpusDir() {
  const char* chosen = std::getenv("ZYN_CORPUS_DIR");
  return chosen != nullptr && *chosen != '\0' ? chosen : ZYN_CORPUS_DIR;
}

inline bool CorpusRequired() {
  const char* required = std::getenv("ZYN_REQUIRE_CORPUS");
  return required != nullptr && *required != '\0' && std::string(required) != "0";
}

}  // namespace zyntest

// Opens the corpus's index as `index` (an std::ifstream) in the calling test, or ends the test:
// skipped where the corpus is optional, failed where it is required.
#define ZYN_OPEN_CORPUS_INDEX_OR_SKIP(dir, index)                                         \
  const std::string dir = zyntest::CorpusDir();                                           \
  std::ifstream index(dir + "/INDEX.tsv");                                                \
  if (!index) {                                                                           \
    if (zyntest::CorpusRequired())                                                        \
      FAIL() << "no readable SMBIOS corpus at " << dir << " (ZYN_REQUIRE_CORPUS is set)"; \
    GTEST_SKIP() << "no SMBIOS corpus at " << dir << " (optional; set ZYN_CORPUS_DIR)";   \
  }
