// Requests on the device channel to the outside drivers: the 9x open, the probe and the board
// identity read of both families. Results as the identification flow relies on them: non-zero
// is success.
#pragma once

#include <windows.h>

#include <cstdint>

#include "dmi/dmi_reader.h"
#include "runtime/win32_handles.h"

// Opens ZYNDATA.VXD, which loads the VxD; closing the handle unloads it. The handle goes into
// `channel` whatever it is. Non-zero when it is valid.
int OpenVxdChannel(win32::KernelHandle& channel);

// The probe request: the caller's word is both the input and the output buffer.
int ProbeDriverChannel(HANDLE channel, std::uint16_t* probe_word);
int ProbeVxdChannel(HANDLE channel, std::uint16_t* probe_word);

// The table reader over this channel, with each family's request codes. Statuses of
// ReadBoardIdentity (dmi/dmi_reader.h).
std::uint16_t ReadBoardIdentityNt(HANDLE channel, BoardIdentity& identity);
std::uint16_t ReadBoardIdentityVxd(HANDLE channel, BoardIdentity& identity);
