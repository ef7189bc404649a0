#include "standin/core/config.h"

#include "protocol/device_protocol.h"
#include "standin/core/text.h"

namespace standin {
namespace {

struct Span {
  const char* p;
  size_t n;
};

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

Span Trim(Span s) {
  while (s.n > 0 && IsBlank(s.p[0])) {
    ++s.p;
    --s.n;
  }
  while (s.n > 0 && IsBlank(s.p[s.n - 1]))
    --s.n;
  return s;
}

bool Is(Span s, const char* word) {
  const size_t n = TextLength(word);
  return s.n == n && SameBytes(s.p, word, n);
}

void KeepDetail(ConfigError& error, Span s) {
  TextWriter w(error.detail, sizeof error.detail);
  w.Add(s.p, s.n);
}

bool Fail(ConfigError& error, ConfigProblem problem, uint32_t line, Span detail) {
  error.problem = problem;
  error.line = line;
  KeepDetail(error, detail);
  return false;
}

// Decimal or 0x hexadecimal, nothing else (no sign, no suffix); false past 32 bits.
bool ParseNumber(Span s, uint32_t& value) {
  uint32_t base = 10;
  if (s.n >= 2 && s.p[0] == '0' && (s.p[1] == 'x' || s.p[1] == 'X')) {
    base = 16;
    s.p += 2;
    s.n -= 2;
  }
  if (s.n == 0)
    return false;
  uint32_t v = 0;
  for (size_t i = 0; i < s.n; ++i) {
    const char c = s.p[i];
    uint32_t digit;
    if (c >= '0' && c <= '9')
      digit = static_cast<uint32_t>(c - '0');
    else if (base == 16 && c >= 'a' && c <= 'f')
      digit = static_cast<uint32_t>(c - 'a' + 10);
    else if (base == 16 && c >= 'A' && c <= 'F')
      digit = static_cast<uint32_t>(c - 'A' + 10);
    else
      return false;
    if (v > (0xFFFFFFFFu - digit) / base)
      return false;
    v = v * base + digit;
  }
  value = v;
  return true;
}

enum KeyBit : uint32_t { kTableKey = 1, kOffsetKey = 2, kProbeKey = 4, kFailKey = 8 };

// One `key = value` line (already stripped of its comment and line end) into `config`.
bool ApplyLine(Span line, uint32_t number, uint32_t& seen, Config& config, ConfigError& error) {
  size_t eq = 0;
  while (eq < line.n && line.p[eq] != '=')
    ++eq;
  if (eq == line.n)
    return Fail(error, ConfigProblem::kNoEquals, number, Trim(line));
  const Span key = Trim({line.p, eq});
  const Span value = Trim({line.p + eq + 1, line.n - eq - 1});

  uint32_t bit;
  if (Is(key, "table"))
    bit = kTableKey;
  else if (Is(key, "offset"))
    bit = kOffsetKey;
  else if (Is(key, "probe"))
    bit = kProbeKey;
  else if (Is(key, "fail"))
    bit = kFailKey;
  else
    return Fail(error, ConfigProblem::kUnknownKey, number, key);
  if (seen & bit)
    return Fail(error, ConfigProblem::kRepeatedKey, number, key);
  seen |= bit;
  if (value.n == 0)
    return Fail(error, ConfigProblem::kEmptyValue, number, key);

  uint32_t n = 0;
  switch (bit) {
    case kTableKey:
      if (value.n >= sizeof config.table)
        return Fail(error, ConfigProblem::kPathTooLong, number, value);
      CopyBytes(config.table, value.p, value.n);
      config.table[value.n] = '\0';
      config.table_line = number;
      return true;
    case kOffsetKey:
      if (!ParseNumber(value, n))
        return Fail(error, ConfigProblem::kBadNumber, number, value);
      if (n >= kTablePageSize)
        return Fail(error, ConfigProblem::kOffsetRange, number, value);
      config.offset = n;
      return true;
    case kProbeKey:
      if (!ParseNumber(value, n))
        return Fail(error, ConfigProblem::kBadNumber, number, value);
      if (n > 0xFFFF)
        return Fail(error, ConfigProblem::kProbeRange, number, value);
      config.probe = static_cast<uint16_t>(n);
      return true;
    default:
      if (Is(value, "none"))
        config.fail = FailMode::kNone;
      else if (Is(value, "probe"))
        config.fail = FailMode::kProbe;
      else if (Is(value, "table"))
        config.fail = FailMode::kTable;
      else if (Is(value, "release"))
        config.fail = FailMode::kRelease;
      else
        return Fail(error, ConfigProblem::kBadFailMode, number, value);
      return true;
  }
}

}  // namespace

bool ParseConfig(const char* text, size_t size, Config& config, ConfigError& error) {
  error = ConfigError{};
  Config parsed;
  size_t pos = 0;
  // Editors on Windows like to start a UTF-8 file with a byte order mark.
  if (size >= 3 && static_cast<uint8_t>(text[0]) == 0xEF && static_cast<uint8_t>(text[1]) == 0xBB &&
      static_cast<uint8_t>(text[2]) == 0xBF)
    pos = 3;
  uint32_t seen = 0;
  for (uint32_t number = 1; pos < size; ++number) {
    size_t end = pos;
    while (end < size && text[end] != '\n')
      ++end;
    Span line{text + pos, end - pos};
    pos = end + 1;
    if (line.n > 0 && line.p[line.n - 1] == '\r')
      --line.n;
    for (size_t i = 0; i < line.n; ++i) {
      if (line.p[i] == '#') {
        line.n = i;
        break;
      }
    }
    for (size_t i = 0; i < line.n; ++i) {
      const auto c = static_cast<uint8_t>(line.p[i]);
      if ((c < 0x20 && c != '\t') || c == 0x7F)
        return Fail(error, ConfigProblem::kControlCharacter, number, Span{"", 0});
    }
    line = Trim(line);
    if (line.n == 0)
      continue;
    if (!ApplyLine(line, number, seen, parsed, error))
      return false;
  }
  config = parsed;
  return true;
}

const char* DescribeConfigProblem(ConfigProblem problem) {
  // In the order of ConfigProblem.
  static const char* const kTexts[] = {"no problem",
                                       "expected key = value, got",
                                       "unknown key",
                                       "key given twice",
                                       "no value for",
                                       "not a decimal or 0x hexadecimal number",
                                       "offset not within 0 to 4095",
                                       "probe word not within 0 to 0xffff",
                                       "fail is none, probe, table or release, not",
                                       "table path longer than 259 bytes",
                                       "control character in line"};
  return TextFor<ConfigProblem::kControlCharacter>(kTexts, problem, "unknown problem");
}

bool FormatLineMessage(char* out, size_t out_size, const char* file, uint32_t line,
                       const char* what, const char* detail) {
  TextWriter w(out, out_size);
  w.Add(file).Add(" line ").AddDecimal(line).Add(": ").Add(what);
  if (detail != nullptr && detail[0] != '\0')
    w.Add(" \"").Add(detail).AddChar('"');
  return w.complete();
}

bool FormatConfigError(char* out, size_t out_size, const char* file, const ConfigError& error) {
  return FormatLineMessage(out, out_size, file, error.line, DescribeConfigProblem(error.problem),
                           error.detail);
}

}  // namespace standin
