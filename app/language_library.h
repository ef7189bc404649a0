// Install location and the choice of the language resource library.
//
// The install directory comes from one registry value; the language from the system's default
// locale. Together they name the resource library ZYNRes.lrc and the directory of the license
// file. Portable: the platform is reached only through FlowPorts.
#pragma once

#include <cstdint>

#include "app/flow_ports.h"

// Where the installer records the install directory (under HKEY_LOCAL_MACHINE).
inline constexpr char kInstallKey[] = "Software\\Orvex\\ZYN ID Utility";
inline constexpr char kInstallValue[] = "TargetDir";
inline constexpr char kResourceLibraryFile[] = "\\ZYNRes.lrc";
inline constexpr char kLicenseFile[] = "\\license.txt";

// The language used when the system's default locale cannot be read: English (United States).
inline constexpr std::uint32_t kFallbackLanguage = 0x0409;

// Program-wide, written once at start-up and only read afterwards. LanguageSubdirectory is the
// chosen subdirectory with its leading backslash ("\Eng"), empty until a language is chosen;
// ResourceLibraryHandle is the loaded library, or null. The library is never unloaded.
extern const char* LanguageSubdirectory;
extern PlatformHandle ResourceLibraryHandle;

// Puts both values back to their program-start state. The program sets them once per process;
// tests run the start-up many times in one.
void ResetLanguageState();

// The locale's language identifier text as a number: hexadecimal, leading white space and a sign
// accepted, parsing stops at the first character that is not a hexadecimal digit (so a "0x"
// prefix is not taken: "0x11" is 0). At most the first 5 characters are looked at.
std::uint32_t ParseLanguageValue(const char (&text)[5]);

// The language subdirectory for a language identifier, chosen by its low 8 bits (Chinese by the
// whole identifier: only 0x0804 is simplified Chinese). Every unlisted language gets "\Eng".
const char* LanguageSubdirectoryFor(std::uint32_t language);

// Chooses the language, sets LanguageSubdirectory and loads TargetDir + subdirectory +
// "\ZYNRes.lrc" as a resource library. Returns the library, or null when the install directory
// is unknown, the path does not fit its 260-byte buffer, or the library cannot be loaded.
// Does not store the result in ResourceLibraryHandle: the caller does.
PlatformHandle LoadLanguageLibrary(FlowPorts& ports);
