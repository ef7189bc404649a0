// The program's application object: runs the identification flow once at start-up, with itself
// as the flow's ports onto Windows, and owns the device channel for the whole run.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "app/flow_ports.h"
#include "app/win32/application.h"
#include "runtime/win32_handles.h"

class IdUtilityApp : public ui::Application, public FlowPorts {
 public:
  IdUtilityApp();
  ~IdUtilityApp() override;

  // Start-up: the whole program. Always 0, so no message loop follows and the program ends.
  int Start() override { return RunIdentificationFlow(); }
  int RunIdentificationFlow();

  // The open driver, owned for the whole run on both families: nothing at start, the invalid
  // handle after a failed open (never closed), closed by the teardown after a result.
  win32::KernelHandle DeviceChannel;

  // FlowPorts.
  void EnableControlHosting() override;
  void Enable3dControls() override;
  bool QuerySystemLanguage(char (&text)[5]) override;
  bool ReadRegistryString(const char* subkey, const char* value_name, char* buffer,
                          std::uint32_t size) override;
  PlatformHandle LoadResourceLibrary(const char* path) override;
  void SetResourceSource(PlatformHandle library) override;
  std::string LoadResourceString(unsigned id) override;
  bool TopLevelWindowExists(const std::string& title) override;
  PlatformHandle OpenLicenseFile(const char* path) override;
  void CloseLicenseFile(PlatformHandle file) override;
  int RunAgreementDialog(PlatformHandle license_file) override;
  std::uint32_t QueryPlatformId() override;
  int CheckAdministratorMembership() override;
  int OpenDriverChannel() override;
  int OpenVxdChannel() override;
  int ProbeDriverChannel(std::uint16_t* probe_word) override;
  int ProbeVxdChannel(std::uint16_t* probe_word) override;
  std::uint16_t ReadBoardIdentityNt(BoardIdentity& identity) override;
  std::uint16_t ReadBoardIdentityVxd(BoardIdentity& identity) override;
  void RemoveDriverService() override;
  void CloseDeviceChannel() override;
  void RunResultDialog(const std::string& manufacturer, const std::string& product,
                       const std::string& verdict) override;
  void ShowMessage(unsigned string_id) override;
};
