#include "app/identification_flow.h"

#include <cstring>

#include "app/path_buffer.h"
#include "app/resource_ids.h"
#include "runtime/port_kind.h"

namespace {

constexpr int kAccepted = 1;  // IDOK, the agreement dialog's accept button

// Copies `text` into `field`, cut where it would not fit with its terminator.
template <std::size_t N>
void CopyText(char (&field)[N], const char* text) {
  std::size_t length = 0;
  while (length + 1 < N && text[length] != '\0')
    ++length;
  std::memcpy(field, text, length);
  field[length] = '\0';
}

// Both fields start as the shared empty text, so a table without a base board shows empty texts.
void ClearBoardIdentity(BoardIdentity& identity) {
  CopyText(identity.product, kDmiEmptyText);
  CopyText(identity.manufacturer, kDmiEmptyText);
}

bool TableWasRead(std::uint16_t status) {
  return status == kDmiStatusOk || status == kDmiStatusEmptyTable;
}

// Builds TargetDir + language subdirectory + "\license.txt" in the install-directory buffer.
// False when the value is not terminated or the path does not fit: the flow then ends silently,
// as it does when the value is missing.
bool ReadLicensePath(FlowPorts& ports, char (&path)[win32::kMaxPath]) {
  if (!ports.ReadRegistryString(kInstallKey, kInstallValue, path, sizeof path))
    return false;
  return IsTerminatedWithin(path, sizeof path) &&
         AppendWithinBuffer(path, sizeof path, LanguageSubdirectory) &&
         AppendWithinBuffer(path, sizeof path, kLicenseFile);
}

// Shows the license and answers whether the user accepted it. The file is closed on every way
// out, before anything touches the hardware.
bool UserAcceptsLicense(FlowPorts& ports, const char* license_path) {
  using LicenseFileKind = zynrt::PortKind<FlowPorts, &FlowPorts::CloseLicenseFile>;
  const zynrt::Owner<LicenseFileKind> license_file(ports.OpenLicenseFile(license_path),
                                                   LicenseFileKind{&ports});
  if (!license_file.holds())
    return false;
  return ports.RunAgreementDialog(license_file.get()) == kAccepted;
}

// Shows the message of a failed step; the road then stops there.
bool Refuse(FlowPorts& ports, unsigned string_id) {
  ports.ShowMessage(string_id);
  return false;
}

// The NT road: administrator check, driver channel, probe, table. On failure shows its message
// and answers false, leaving the channel and the service as they are.
bool ReadBoardOnNt(FlowPorts& ports, std::uint16_t& probe_word, BoardIdentity& identity) {
  if (ports.CheckAdministratorMembership() == 0)
    return Refuse(ports, IDS_NOT_ADMINISTRATOR);
  if (ports.OpenDriverChannel() == 0)
    return Refuse(ports, IDS_NT_CHANNEL_FAILED);
  if (ports.ProbeDriverChannel(&probe_word) == 0)
    return Refuse(ports, IDS_NT_READ_FAILED);
  ClearBoardIdentity(identity);
  if (!TableWasRead(ports.ReadBoardIdentityNt(identity)))
    return Refuse(ports, IDS_NT_READ_FAILED);
  return true;
}

// The 9x road: the VxD channel, probe, table.
bool ReadBoardOnVxd(FlowPorts& ports, std::uint16_t& probe_word, BoardIdentity& identity) {
  if (ports.OpenVxdChannel() == 0)
    return Refuse(ports, IDS_VXD_CHANNEL_FAILED);
  if (ports.ProbeVxdChannel(&probe_word) == 0)
    return Refuse(ports, IDS_VXD_READ_FAILED);
  ClearBoardIdentity(identity);
  if (!TableWasRead(ports.ReadBoardIdentityVxd(identity)))
    return Refuse(ports, IDS_VXD_READ_FAILED);
  return true;
}

}  // namespace

std::string BoardFieldText(const char (&field)[128]) {
  const void* end = std::memchr(field, '\0', sizeof field);
  const std::size_t length = end != nullptr
                                 ? static_cast<std::size_t>(static_cast<const char*>(end) - field)
                                 : sizeof field;
  return std::string(field, length);
}

int RunIdentificationFlow(FlowPorts& ports) {
  ports.EnableControlHosting();
  ports.Enable3dControls();

  ResourceLibraryHandle = LoadLanguageLibrary(ports);
  if (ResourceLibraryHandle != nullptr)
    ports.SetResourceSource(ResourceLibraryHandle);

  // A window titled like our result dialog means another instance is showing its result. Without
  // a library the title is empty and the search is for an untitled window; the flow then ends at
  // the agreement dialog at the latest, which cannot be built.
  const std::string instance_title = ports.LoadResourceString(IDS_RESULT_TITLE);
  if (ports.TopLevelWindowExists(instance_title))
    return 0;

  char install_dir[win32::kMaxPath] = {};
  if (!ReadLicensePath(ports, install_dir))
    return 0;
  if (!UserAcceptsLicense(ports, install_dir))
    return 0;

  const std::uint32_t platform_id = ports.QueryPlatformId();
  // The driver is expected to overwrite both bytes; start from a known value all the same.
  std::uint16_t probe_word = 0;
  BoardIdentity identity = {};
  const bool read = platform_id == kPlatformNt ? ReadBoardOnNt(ports, probe_word, identity)
                                               : ReadBoardOnVxd(ports, probe_word, identity);
  if (!read)
    return 0;

  const std::string verdict = ports.LoadResourceString(
      ProbeWordHasBothBytes(probe_word) ? IDS_VERDICT_BOTH_SET : IDS_VERDICT_OTHER);
  ports.RunResultDialog(BoardFieldText(identity.manufacturer), BoardFieldText(identity.product),
                        verdict);

  if (platform_id == kPlatformNt) {
    ports.RemoveDriverService();  // closes the channel, stops and deletes the service
  } else {
    ports.CloseDeviceChannel();  // closing the handle unloads the VxD
  }
  return 0;
}
