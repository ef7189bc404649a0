#include "app/language_library.h"

#include <cstdlib>
#include <cstring>

#include "app/path_buffer.h"

const char* LanguageSubdirectory = "";
PlatformHandle ResourceLibraryHandle = nullptr;

void ResetLanguageState() {
  LanguageSubdirectory = "";
  ResourceLibraryHandle = nullptr;
}

std::uint32_t ParseLanguageValue(const char (&text)[5]) {
  // The platform terminates the text, but a port that filled all five characters must not make
  // the parse run past them.
  char terminated[sizeof text + 1] = {};
  std::memcpy(terminated, text, sizeof text);
  // strtoul does exactly the parse wanted; a long may be 64 bits wide here, and keeping its low
  // 32 bits gives the same value as on the 32-bit target, negative inputs included.
  return static_cast<std::uint32_t>(std::strtoul(terminated, nullptr, 16));
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

  char path[kPathBufferSize] = {};
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
