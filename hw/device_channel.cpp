#include "hw/device_channel.h"

#include "hw/device_io.h"
#include "protocol/device_protocol.h"
#include "hw/win32_dmi_platform.h"

int OpenVxdChannel(win32::KernelHandle& channel) {
  // Access 0 and creation disposition 0 are what a dynamic VxD open takes.
  *channel.receive() = OpenDeviceFile(kVxdDevicePath, 0, 0, 0, FILE_FLAG_DELETE_ON_CLOSE);
  return channel.get() != INVALID_HANDLE_VALUE ? 1 : 0;
}

namespace {
int Probe(HANDLE channel, DWORD code, std::uint16_t* probe_word) {
  return SendDeviceRequest(channel, code, probe_word, kProbeWordSize, probe_word, kProbeWordSize)
             ? 1
             : 0;
}

std::uint16_t ReadIdentity(HANDLE channel, const DmiTableRequests& requests,
                           DmiAddressSpace& addresses, BoardIdentity& identity) {
  ChannelDevice device(channel);
  GlobalMemory memory;
  DebuggerOutput debug;
  const DmiPlatform platform{device, addresses, memory, debug};
  return ReadBoardIdentity(platform, requests, identity);
}
}  // namespace

int ProbeDriverChannel(HANDLE channel, std::uint16_t* probe_word) {
  return Probe(channel, kNtProbeRequest, probe_word);
}

int ProbeVxdChannel(HANDLE channel, std::uint16_t* probe_word) {
  return Probe(channel, kVxdProbeRequest, probe_word);
}

// Each family reads the table's pages with the readability check that holds there
// (hw/win32_dmi_platform.h).
std::uint16_t ReadBoardIdentityNt(HANDLE channel, BoardIdentity& identity) {
  ProcessAddressSpace addresses;
  return ReadIdentity(channel, kNtTableRequests, addresses, identity);
}

std::uint16_t ReadBoardIdentityVxd(HANDLE channel, BoardIdentity& identity) {
  Win9xAddressSpace addresses;
  return ReadIdentity(channel, kVxdTableRequests, addresses, identity);
}
