// The real-table corpus's INDEX.tsv: one header line naming the tab-separated columns, then a
// row per table.
#pragma once

#include <istream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

using CorpusIndexRow = std::map<std::string, std::string>;

inline std::vector<CorpusIndexRow> ReadCorpusIndex(std::istream& in) {
  std::string line;
  std::getline(in, line);
  std::vector<std::string> names;
  for (std::stringstream h(line); std::getline(h, line, '\t');)
    names.push_back(line);
  std::vector<CorpusIndexRow> rows;
  while (std::getline(in, line)) {
    CorpusIndexRow& row = rows.emplace_back();
    std::stringstream s(line);
    for (std::size_t i = 0; i < names.size() && std::getline(s, line, '\t'); ++i)
      row[names[i]] = line;
  }
  return rows;
}
