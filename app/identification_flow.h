// The one pass of the program: license agreement, hardware, result, teardown.
#pragma once

#include <cstdint>
#include <string>

#include "app/flow_ports.h"
#include "app/language_library.h"
#include "dmi/dmi_reader.h"

// Platform identifier of the NT family (dwPlatformId); every other value takes the 9x road.
inline constexpr std::uint32_t kPlatformNt = 2;

// True when both bytes of the probe word are non-zero: the verdict is then string 3, else 4.
inline bool ProbeWordHasBothBytes(std::uint16_t probe_word) {
  return (probe_word & 0xFF00) != 0 && (probe_word & 0x00FF) != 0;
}

// A BoardIdentity field as display text: up to its terminator, never past its 128 bytes.
std::string BoardFieldText(const char (&field)[128]);

// Runs the whole identification flow through the ports. Every failure ends it at once (silently
// before the agreement is accepted, with one message box after); only the result path tears the
// device channel down. Always returns 0: the program has no message loop of its own and ends.
int RunIdentificationFlow(FlowPorts& ports);
