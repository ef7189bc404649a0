// The stand-ins' configuration file (zyndrv.cfg beside ZYNDRV.sys, zyndata.cfg beside
// zyndata.vxd): 8-bit text, one `key = value` a line, `#` starts a comment anywhere on a line,
// blank lines, spaces and tabs around keys and values, CRLF or LF line ends and a leading UTF-8
// byte order mark are all accepted. Keys (lower case, each at most once):
//   table   a structure table file: a dump with an entry point at offset 0 or a raw table,
//           a plain file name in the configuration's folder (IsPlainFileName: no other folder,
//           drive, share or device). Without it: the firmware's table.
//   offset  0 to 4095: where the table starts within its page (default 0)
//   probe   the 16-bit probe answer, decimal or 0x hexadecimal (default 0x0101)
//   fail    none (default), probe, table or release: that request fails
// Anything else is an error that names its line; a stand-in that meets one refuses to start.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace standin {

enum class FailMode : uint8_t { kNone, kProbe, kTable, kRelease };

// The one bound of a path on the stand-ins' side, NUL included: a `table` value, the paths made
// from it and the image's own.
inline constexpr size_t kMaxPath = 520;
inline constexpr uint16_t kDefaultProbeWord = 0x0101;

struct Config {
  char table[kMaxPath] = {};  // empty: serve the firmware's table
  uint32_t table_line = 0;    // the line that named it, for messages about the file
  uint32_t offset = 0;
  uint16_t probe = kDefaultProbeWord;
  FailMode fail = FailMode::kNone;
};

enum class ConfigProblem : uint8_t {
  kNone,
  kNoEquals,  // a line that is neither blank, a comment nor `key = value`
  kUnknownKey,
  kRepeatedKey,
  kEmptyValue,
  kBadNumber,    // not decimal or 0x hexadecimal, or too large for 32 bits
  kOffsetRange,  // above 4095
  kProbeRange,   // above 0xFFFF
  kBadFailMode,
  kPathTooLong,
  kControlCharacter  // a NUL, a lone CR or another control byte inside a line
};

struct ConfigError {
  ConfigProblem problem = ConfigProblem::kNone;
  uint32_t line = 0;     // 1-based
  char detail[40] = {};  // the key or value in question, cut to fit
};

// Parses `size` bytes of configuration text. On failure `config` is left at its defaults
// (never half-applied) and `error` names the first bad line.
bool ParseConfig(const char* text, size_t size, Config& config, ConfigError& error);

const char* DescribeConfigProblem(ConfigProblem problem);

// "<file> line <n>: <what> \"<detail>\"" into `out`; returns false when it had to be cut.
bool FormatLineMessage(char* out, size_t out_size, const char* file, uint32_t line,
                       const char* what, const char* detail);
bool FormatConfigError(char* out, size_t out_size, const char* file, const ConfigError& error);

}  // namespace standin
