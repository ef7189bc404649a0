#include "app/language_library.h"

#include <cstddef>

#include "app/path_buffer.h"

const char* LanguageSubdirectory = "";
PlatformHandle ResourceLibraryHandle = nullptr;

void ResetLanguageState() {
  LanguageSubdirectory = "";
  ResourceLibraryHandle = nullptr;
}

namespace {

// The C locale's white space, independent of the process locale.
bool IsParseSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The value of a hexadecimal digit, or -1 for any other character.
int HexDigitValue(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return -1;
}

}  // namespace

std::uint32_t ParseLanguageValue(const char (&text)[5]) {
  // Never past the five characters: a port that filled all of them left no terminator. A "0x"
  // prefix is not part of the number: "0x11" is 0 (the parse stops at the 'x').
  std::size_t i = 0;
  while (i < sizeof text && IsParseSpace(text[i]))
    ++i;
  bool negative = false;
  if (i < sizeof text && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  // At most five digits, so the value cannot overflow 32 bits.
  std::uint32_t value = 0;
  for (; i < sizeof text; ++i) {
    const int digit = HexDigitValue(text[i]);
    if (digit < 0)
      break;
    value = value * 16 + static_cast<std::uint32_t>(digit);
  }
  // A minus sign negates in 32 bits, as the target's unsigned long does.
  return negative ? 0u - value : value;
}

const char* LanguageSubdirectoryFor(std::uint32_t language) {
  switch (language & 0xFF) {
    case 0x04:
      return language == 0x0804 ? "\\Chs" : "\\Cht";
    case 0x07:
      return "\\Deu";
    case 0x0A:
      return "\\Esn";
    case 0x0C:
      return "\\Fra";
    case 0x10:
      return "\\Ita";
    case 0x11:
      return "\\Jpn";
    case 0x12:
      return "\\Kor";
    default:
      return "\\Eng";
  }
}

PlatformHandle LoadLanguageLibrary(FlowPorts& ports) {
  // The locale is read before the registry.
  std::uint32_t language = kFallbackLanguage;
  char locale_text[5] = {};
  if (ports.QuerySystemLanguage(locale_text))
    language = ParseLanguageValue(locale_text);

  char path[win32::kMaxPath] = {};
  if (!ports.ReadRegistryString(kInstallKey, kInstallValue, path, sizeof path))
    return nullptr;
  if (!IsTerminatedWithin(path, sizeof path))
    return nullptr;

  LanguageSubdirectory = LanguageSubdirectoryFor(language);
  // Only from the install directory: never the program's folder or the search path.
  if (!AppendWithinBuffer(path, sizeof path, LanguageSubdirectory) ||
      !AppendWithinBuffer(path, sizeof path, kResourceLibraryFile)) {
    return nullptr;
  }
  return ports.LoadResourceLibrary(path);
}
